#include "platform/ui/label.hpp"

#include "text_metrics.hpp"

namespace platform::ui {

std::shared_ptr<Label> Label::create(Rect frame) { return std::make_shared<Label>(frame); }

void Label::setText(std::string text) {
  text_ = std::move(text);
  changed();
}

void Label::setTextColor(Color color) {
  textColor_ = color;
  changed();
}

void Label::setFont(Font font) {
  font_ = font;
  changed();
}

void Label::setShadowOffset(Size offset) {
  shadowOffset_ = offset;
  changed();
}

void Label::setTextAlignment(TextAlignment alignment) {
  alignment_ = alignment;
  changed();
}

Size Label::sizeThatFits(Size) const { return detail::estimateTextSize(text_, font_); }

ImageView::ImageView(Image image) : View(Rect(Point{}, image.size())), image_(std::move(image)) {}

std::shared_ptr<ImageView> ImageView::create(Image image) { return std::make_shared<ImageView>(std::move(image)); }

void ImageView::setImage(Image image) {
  image_ = std::move(image);
  changed();
}

ActivityIndicatorView::ActivityIndicatorView(Rect frame) : View(frame) { setHidden(true); }

std::shared_ptr<ActivityIndicatorView> ActivityIndicatorView::create(Rect frame) {
  return std::make_shared<ActivityIndicatorView>(frame);
}

void ActivityIndicatorView::setStyle(ActivityIndicatorStyle style) {
  style_ = style;
  changed();
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides) {
  hidesWhenStopped_ = hides;
  setHidden(hides && !animating_);
}

void ActivityIndicatorView::startAnimating() {
  animating_ = true;
  setHidden(false);
  changed();
}

void ActivityIndicatorView::stopAnimating() {
  animating_ = false;
  if (hidesWhenStopped_) setHidden(true);
  changed();
}

}  // namespace platform::ui
