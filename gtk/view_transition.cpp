#include "view_transition.hpp"

#include <algorithm>

namespace gtk {

namespace {

// Cubic Bézier curves through (0,0) and (1,1) with the control points of
// the standard timing functions, solved for x by bisection.
double bezier(double p1, double p2, double s) {
  const double u = 1 - s;
  return 3 * u * u * s * p1 + 3 * u * s * s * p2 + s * s * s;
}

double cubicTiming(double x1, double y1, double x2, double y2, double t) {
  double low = 0;
  double high = 1;
  for (int step = 0; step < 40; ++step) {
    const double mid = (low + high) / 2;
    (bezier(x1, x2, mid) < t ? low : high) = mid;
  }
  return bezier(y1, y2, (low + high) / 2);
}

}  // namespace

double timingProgress(ui::MediaTimingFunction timing, double t) {
  t = std::clamp(t, 0.0, 1.0);
  switch (timing) {
    case ui::MediaTimingFunction::Linear: return t;
    case ui::MediaTimingFunction::EaseIn: return cubicTiming(0.42, 0, 1, 1, t);
    case ui::MediaTimingFunction::EaseOut: return cubicTiming(0, 0, 0.58, 1, t);
    case ui::MediaTimingFunction::EaseInEaseOut: return cubicTiming(0.42, 0, 0.58, 1, t);
    case ui::MediaTimingFunction::Default: return cubicTiming(0.25, 0.1, 0.25, 1, t);
  }
  return t;
}

ViewTransition::ViewTransition(std::weak_ptr<ui::View> view, const ui::LayerAnimation& animation, double begin)
    : view_(std::move(view)),
      type_(animation.type),
      subtype_(animation.subtype),
      timing_(animation.timing),
      begin_(begin),
      duration_(std::max(0.0, animation.duration)) {}

bool ViewTransition::moves() const {
  return duration_ > 0 && (type_ == ui::kTransitionMoveIn || type_ == ui::kTransitionPush || type_ == ui::kTransitionReveal);
}

TransitionOffsets ViewTransition::offsetsAt(double now, ui::Size size) const {
  TransitionOffsets offsets;
  if (!moves() || hasEnded(now)) return offsets;
  const double progress = timingProgress(timing_, (now - begin_) / duration_);
  // The way the new content travels: "fromRight" comes in from the right, moving left.
  ui::Point travel{-size.width, 0};
  if (subtype_ == ui::kTransitionFromLeft) travel = {size.width, 0};
  if (subtype_ == ui::kTransitionFromTop) travel = {0, size.height};
  if (subtype_ == ui::kTransitionFromBottom) travel = {0, -size.height};
  const ui::Point incoming{-travel.x * (1 - progress), -travel.y * (1 - progress)};
  const ui::Point outgoing{travel.x * progress, travel.y * progress};
  if (type_ == ui::kTransitionMoveIn) {
    offsets.content = incoming;
  } else if (type_ == ui::kTransitionPush) {
    offsets.content = incoming;
    offsets.picture = outgoing;
  } else {
    offsets.picture = outgoing;
    offsets.pictureOnTop = true;
  }
  return offsets;
}

}  // namespace gtk
