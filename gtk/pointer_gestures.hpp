#pragma once
// Which pointer gestures move the panels on a desktop. A mouse drag over a
// page or a text field is the page's own (it selects text, as everywhere on
// the desktop); elsewhere, on the navigation bar above all, it drags the
// panels. Touch drags move them wherever they start, and so does a
// horizontal two-finger touchpad swipe, which is followed as a drag of the
// fingers. Toolkit-neutral; main thread only.

#include "platform/ui/geometry.hpp"

namespace gtk {

namespace ui = platform::ui;

enum class PointerKind { Mouse, Touch };

// What a drag starts on.
enum class DragStart { Page, TextField, Bar, Elsewhere };

// Whether a drag of `kind` that starts on `where` drags the panels (and so
// is taken from the widget under it).
bool dragMovesPanels(PointerKind kind, DragStart where);

// A touchpad scroll gesture, told apart: a mostly horizontal one drags the
// panels, any other scrolls the page, for the whole of the gesture.
class TouchpadSwipe {
 public:
  enum class Verdict { Undecided, Panels, Page };

  // One scroll step at `seconds` on the canvas clock, in points, signed as
  // scrolling is (positive: right and down). Steps after a pause longer
  // than kPause begin a new gesture.
  Verdict scrolled(double seconds, double dx, double dy);
  // The fingers left the touchpad: the next step begins a new gesture.
  void ended();

  Verdict verdict() const { return verdict_; }
  // Where the panels follow the gesture to: the way the page's content
  // would have moved, from where the gesture began.
  ui::Point travel() const { return {-scrolled_.x, -scrolled_.y}; }
  // When the last step came.
  double lastStep() const { return lastStep_; }
  // Whether a gesture under way has gone quiet by `seconds` (some
  // touchpads never say when the fingers lift).
  bool quietAt(double seconds) const;

  // Travel that decides which way a gesture goes.
  static constexpr double kDecideDistance = 8;
  // Steps further apart than this belong to separate gestures.
  static constexpr double kPause = 0.2;

 private:
  Verdict verdict_ = Verdict::Undecided;
  ui::Point scrolled_;
  double lastStep_ = -1;
};

}  // namespace gtk
