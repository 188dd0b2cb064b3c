#include "pointer_gestures.hpp"

#include <cmath>

namespace gtk {

bool dragMovesPanels(PointerKind kind, DragStart where) {
  if (kind == PointerKind::Touch) return true;
  return where != DragStart::Page && where != DragStart::TextField;
}

TouchpadSwipe::Verdict TouchpadSwipe::scrolled(double seconds, double dx, double dy) {
  if (lastStep_ >= 0 && seconds - lastStep_ > kPause) ended();
  lastStep_ = seconds;
  scrolled_ = {scrolled_.x + dx, scrolled_.y + dy};
  if (verdict_ == Verdict::Undecided && std::hypot(scrolled_.x, scrolled_.y) >= kDecideDistance) {
    verdict_ = std::abs(scrolled_.x) > std::abs(scrolled_.y) ? Verdict::Panels : Verdict::Page;
  }
  return verdict_;
}

void TouchpadSwipe::ended() {
  verdict_ = Verdict::Undecided;
  scrolled_ = {};
  lastStep_ = -1;
}

bool TouchpadSwipe::quietAt(double seconds) const { return lastStep_ >= 0 && seconds - lastStep_ > kPause; }

}  // namespace gtk
