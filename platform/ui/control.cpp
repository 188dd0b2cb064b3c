#include "platform/ui/control.hpp"

#include <algorithm>

#include "text_metrics.hpp"

namespace platform::ui {

void Control::addAction(unsigned events, Action action) {
  if (action) actions_.emplace_back(events, std::move(action));
}

void Control::sendActions(unsigned events) {
  // An action may add actions or release the control's last outside owner.
  auto keepAlive = weak_from_this().lock();
  const auto actions = actions_;
  for (const auto& [mask, action] : actions) {
    if (mask & events) action(*this);
  }
}

void Control::setEnabled(bool enabled) {
  enabled_ = enabled;
  changed();
}

void Control::setContentHorizontalAlignment(ContentHorizontalAlignment alignment) {
  alignment_ = alignment;
  changed();
}

Button::Button(ButtonType type, Rect frame) : Control(frame), type_(type) {}

std::shared_ptr<Button> Button::create(ButtonType type) { return std::make_shared<Button>(type); }

void Button::setImage(Image image, unsigned state) {
  images_[state] = std::move(image);
  changed();
}

Image Button::imageForState(unsigned state) const {
  if (auto it = images_.find(state); it != images_.end()) return it->second;
  if (auto it = images_.find(kControlStateNormal); it != images_.end()) return it->second;
  return Image();
}

void Button::setTitle(std::string title, unsigned state) {
  titles_[state] = std::move(title);
  changed();
}

std::string Button::titleForState(unsigned state) const {
  if (auto it = titles_.find(state); it != titles_.end()) return it->second;
  if (auto it = titles_.find(kControlStateNormal); it != titles_.end()) return it->second;
  return {};
}

void Button::setTitleEdgeInsets(EdgeInsets insets) {
  titleInsets_ = insets;
  changed();
}

void Button::setImageEdgeInsets(EdgeInsets insets) {
  imageInsets_ = insets;
  changed();
}

void Button::setContentEdgeInsets(EdgeInsets insets) {
  contentInsets_ = insets;
  changed();
}

void Button::setTitleFont(Font font) {
  titleFont_ = font;
  changed();
}

Size Button::sizeThatFits(Size) const {
  const Size image = imageForState(kControlStateNormal).size();
  const Size title = detail::estimateTextSize(titleForState(kControlStateNormal), titleFont_);
  return {image.width + title.width + contentInsets_.left + contentInsets_.right,
          std::max(image.height, title.height) + contentInsets_.top + contentInsets_.bottom};
}

void Button::tap() {
  if (isEnabled()) sendActions(kControlEventTouchUpInside);
}

RefreshControl::RefreshControl() : Control(Rect(0, 0, 320, 60)) {}

std::shared_ptr<RefreshControl> RefreshControl::create() { return std::make_shared<RefreshControl>(); }

void RefreshControl::beginRefreshing() {
  refreshing_ = true;
  changed();
}

void RefreshControl::endRefreshing() {
  refreshing_ = false;
  changed();
}

void RefreshControl::pull() {
  if (refreshing_ || !isEnabled()) return;
  beginRefreshing();
  sendActions(kControlEventValueChanged);
}

}  // namespace platform::ui
