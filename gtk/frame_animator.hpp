#pragma once
// The moves of animated frame changes: the model takes its final frames at
// once, the animator says where each moving view is to be drawn meanwhile
// (eased in and out), starting from where it was drawn when the animation
// began. Toolkit-neutral; main thread only. Times are seconds on one clock.

#include <memory>
#include <vector>

#include "platform/ui/geometry.hpp"
#include "platform/ui/view.hpp"

namespace gtk {

namespace ui = platform::ui;

struct FrameMove {
  std::weak_ptr<ui::View> view;
  ui::Rect from;
  ui::Rect to;  // the model frame the move ends at
};

class FrameAnimator {
 public:
  // Moves starting at `start` + `delay`, lasting `duration` seconds.
  void add(std::vector<FrameMove> moves, double start, double delay, double duration);
  // Where `view` is drawn at `now`: on its way while a move to its current
  // model frame runs; its model frame otherwise (also once the model was
  // given another frame, which ends the move).
  ui::Rect presentationFrame(const ui::View& view, double now) const;
  // Forgets the moves that ended by `now`; answers whether any still run.
  bool advance(double now);
  bool isAnimating() const { return !moves_.empty(); }

  // The ease-in-ease-out curve on [0, 1].
  static double ease(double t);

 private:
  struct Running {
    FrameMove move;
    double begin = 0;
    double duration = 0;
  };
  std::vector<Running> moves_;
};

// The velocity of a pointer from its recent positions, in points per second.
class VelocityTracker {
 public:
  void reset();
  void add(double seconds, ui::Point position);
  // Over the samples of the last 100 ms before the latest; zero with fewer than two.
  ui::Point velocity() const;

 private:
  struct Sample {
    double t;
    ui::Point p;
  };
  std::vector<Sample> samples_;
};

}  // namespace gtk
