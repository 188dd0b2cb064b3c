#pragma once
// Pull-to-refresh on a desktop: scrolling on past the top of a page (wheel
// notches or touchpad travel) pulls the page's refresh control, once per
// gesture, and only a gesture that starts with the page at its top: wheeling
// up a long page never reloads it unless the pointer pauses at the top
// first. Toolkit-neutral; main thread only.

namespace platform::ui {
class WebView;
}

namespace gtk {

// What one scroll step's distance is measured in.
enum class ScrollUnit { WheelNotch, Pixel };

class OverscrollPull {
 public:
  // One scroll step at `seconds` on the canvas clock; `dy` is negative
  // upward. `atTop` says whether the page was at its top. Answers true on
  // the step that completes a pull; later steps of the same gesture do not
  // pull again.
  bool scrolled(double seconds, double dy, ScrollUnit unit, bool atTop);

  // The fingers left the touchpad: the next step starts a new gesture.
  void ended();

  // How far past the top a pull must go, in points.
  static constexpr double kPullDistance = 100;
  // One wheel notch, in points.
  static constexpr double kNotchDistance = 40;
  // Steps further apart than this belong to separate gestures.
  static constexpr double kGesturePause = 0.4;

 private:
  double pulled_ = 0;
  double lastStep_ = -1;
  bool spent_ = false;
};

// Pulls the refresh control of `view`'s page, or reloads it when the page has
// none.
void pullToRefresh(platform::ui::WebView& view);

}  // namespace gtk
