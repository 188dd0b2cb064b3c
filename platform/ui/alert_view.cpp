#include "platform/ui/alert_view.hpp"

#include <algorithm>

#include "platform/ui/toolkit.hpp"

namespace platform::ui {

namespace {
// Alerts on screen; owned here while shown. Main thread only.
std::vector<std::shared_ptr<AlertView>>& shownAlerts() {
  static std::vector<std::shared_ptr<AlertView>> alerts;
  return alerts;
}
}  // namespace

std::shared_ptr<AlertView> AlertView::create(std::string title, std::string message,
                                             std::weak_ptr<AlertViewDelegate> delegate,
                                             std::optional<std::string> cancelButtonTitle,
                                             std::vector<std::string> otherButtonTitles) {
  std::shared_ptr<AlertView> alert(new AlertView());
  alert->title_ = std::move(title);
  alert->message_ = std::move(message);
  alert->delegate_ = std::move(delegate);
  if (cancelButtonTitle) {
    alert->hasCancel_ = true;
    alert->buttons_.push_back(std::move(*cancelButtonTitle));
  }
  for (auto& other : otherButtonTitles) alert->buttons_.push_back(std::move(other));
  return alert;
}

std::string AlertView::buttonTitleAtIndex(int index) const {
  if (index < 0 || index >= numberOfButtons()) return {};
  return buttons_[static_cast<std::size_t>(index)];
}

void AlertView::show() {
  if (visible_) return;
  visible_ = true;
  shownAlerts().push_back(shared_from_this());
  toolkit().alertDidShow(*this);
}

bool AlertView::dismissWithClickedButtonIndex(int index, bool) {
  if (index < 0 || index >= numberOfButtons()) return false;
  auto self = shared_from_this();
  if (visible_) {
    visible_ = false;
    auto& alerts = shownAlerts();
    alerts.erase(std::find(alerts.begin(), alerts.end(), self));
    toolkit().alertDidDismiss(*this);
  }
  if (auto d = delegate()) d->alertViewClickedButtonAtIndex(*this, index);
  return true;
}

std::vector<std::shared_ptr<AlertView>> AlertView::visibleAlerts() { return shownAlerts(); }

}  // namespace platform::ui
