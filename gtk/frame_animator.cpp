#include "frame_animator.hpp"

#include <algorithm>
#include <cmath>

namespace gtk {

namespace {

double lerp(double a, double b, double t) { return a + (b - a) * t; }

ui::Rect lerp(const ui::Rect& a, const ui::Rect& b, double t) {
  return ui::Rect(lerp(a.x(), b.x(), t), lerp(a.y(), b.y(), t), lerp(a.width(), b.width(), t),
                  lerp(a.height(), b.height(), t));
}

constexpr double kVelocityWindow = 0.1;

}  // namespace

double FrameAnimator::ease(double t) {
  t = std::clamp(t, 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

void FrameAnimator::add(std::vector<FrameMove> moves, double start, double delay, double duration) {
  for (auto& move : moves) {
    if (move.from == move.to) continue;
    auto view = move.view.lock();
    if (!view) continue;
    // A newer move of the same view replaces the older one.
    std::erase_if(moves_, [&](const Running& r) { return r.move.view.lock() == view; });
    moves_.push_back(Running{std::move(move), start + std::max(0.0, delay), std::max(0.0, duration)});
  }
}

ui::Rect FrameAnimator::presentationFrame(const ui::View& view, double now) const {
  const ui::Rect model = view.frame();
  for (const Running& running : moves_) {
    if (running.move.view.lock().get() != &view) continue;
    if (running.move.to != model) return model;
    if (running.duration <= 0 || now >= running.begin + running.duration) return model;
    if (now <= running.begin) return running.move.from;
    return lerp(running.move.from, running.move.to, ease((now - running.begin) / running.duration));
  }
  return model;
}

bool FrameAnimator::advance(double now) {
  std::erase_if(moves_, [&](const Running& r) {
    auto view = r.move.view.lock();
    return !view || view->frame() != r.move.to || now >= r.begin + r.duration;
  });
  return !moves_.empty();
}

void VelocityTracker::reset() { samples_.clear(); }

void VelocityTracker::add(double seconds, ui::Point position) {
  samples_.push_back({seconds, position});
  std::erase_if(samples_, [&](const Sample& s) { return s.t < seconds - kVelocityWindow; });
}

ui::Point VelocityTracker::velocity() const {
  if (samples_.size() < 2) return {};
  const Sample& first = samples_.front();
  const Sample& last = samples_.back();
  const double dt = last.t - first.t;
  if (dt <= 0) return {};
  return {(last.p.x - first.p.x) / dt, (last.p.y - first.p.y) / dt};
}

}  // namespace gtk
