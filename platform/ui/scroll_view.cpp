#include "platform/ui/scroll_view.hpp"

#include "platform/ui/toolkit.hpp"

namespace platform::ui {

std::shared_ptr<ScrollView> ScrollView::create(Rect frame) { return std::make_shared<ScrollView>(frame); }

void ScrollView::setContentOffset(Point offset, bool animated) {
  lastScrollAnimated_ = animated;
  setBoundsOrigin(offset);
  toolkit().scrollViewDidSetContentOffset(*this);
  if (auto d = delegate()) d->scrollViewDidScroll(*this);
}

void ScrollView::contentDidScroll(Point offset) {
  if (offset == contentOffset()) return;
  setBoundsOrigin(offset);
  if (auto d = delegate()) d->scrollViewDidScroll(*this);
}

void ScrollView::setContentSize(Size size) {
  contentSize_ = size;
  changed();
}

std::shared_ptr<RefreshControl> ScrollView::refreshControl() const {
  for (const auto& child : subviews()) {
    if (auto control = std::dynamic_pointer_cast<RefreshControl>(child)) return control;
  }
  return nullptr;
}

void ScrollView::drag(double dx, double dy) {
  if (auto d = delegate()) d->scrollViewWillBeginDragging(*this);
  const Point offset = contentOffset();
  setContentOffset({offset.x + dx, offset.y + dy}, false);
}

}  // namespace platform::ui
