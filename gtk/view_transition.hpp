#pragma once
// A layer transition of a view, as the window draws it: the picture the
// view showed when the transition began stays, and the view's new content
// comes in over it ("moveIn"), pushes it out ("push"), or the picture slides
// away uncovering the new content ("reveal"), from the side the subtype
// names. Other types ("fade") change at once. Toolkit-neutral; times are
// seconds on one clock.

#include <memory>
#include <string>

#include "platform/ui/geometry.hpp"
#include "platform/ui/layer.hpp"
#include "platform/ui/view.hpp"

namespace gtk {

namespace ui = platform::ui;

// Progress on [0, 1] of a timing curve at time fraction `t`.
double timingProgress(ui::MediaTimingFunction timing, double t);

struct TransitionOffsets {
  ui::Point content;  // where the new content is drawn, from its place
  ui::Point picture;  // where the old picture is drawn, from where it was
  bool pictureOnTop = false;
};

class ViewTransition {
 public:
  ViewTransition(std::weak_ptr<ui::View> view, const ui::LayerAnimation& animation, double begin);

  // Whether this transition moves anything (its type is one drawn as a move).
  bool moves() const;
  // The offsets at `now` for a view of `size`; none once it ended.
  TransitionOffsets offsetsAt(double now, ui::Size size) const;
  bool hasEnded(double now) const { return now >= begin_ + duration_; }
  const std::weak_ptr<ui::View>& view() const { return view_; }

 private:
  std::weak_ptr<ui::View> view_;
  std::string type_;
  std::string subtype_;
  ui::MediaTimingFunction timing_;
  double begin_;
  double duration_;
};

}  // namespace gtk
