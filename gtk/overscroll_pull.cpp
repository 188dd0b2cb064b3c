#include "overscroll_pull.hpp"

#include "platform/ui/control.hpp"
#include "platform/ui/web_view.hpp"

namespace gtk {

bool OverscrollPull::scrolled(double seconds, double dy, ScrollUnit unit, bool atTop) {
  if (lastStep_ < 0 || seconds - lastStep_ > kGesturePause) ended();
  lastStep_ = seconds;
  if (dy >= 0 || !atTop) {
    // Scrolling the page itself is not a pull, nor is wheeling on once the
    // top is reached: a pull starts with the page resting at its top.
    pulled_ = 0;
    spent_ = true;
    return false;
  }
  if (spent_) return false;
  pulled_ += -dy * (unit == ScrollUnit::WheelNotch ? kNotchDistance : 1);
  if (pulled_ < kPullDistance) return false;
  spent_ = true;
  pulled_ = 0;
  return true;
}

void OverscrollPull::ended() {
  pulled_ = 0;
  spent_ = false;
}

void pullToRefresh(platform::ui::WebView& view) {
  if (auto refresh = view.scrollView().refreshControl()) {
    refresh->pull();
  } else {
    view.reload();
  }
}

}  // namespace gtk
