#include "platform/ui/gesture_recognizer.hpp"

#include "platform/ui/view.hpp"

namespace platform::ui {

GestureRecognizer::GestureRecognizer(Action action) { addAction(std::move(action)); }

void GestureRecognizer::addAction(Action action) {
  if (action) actions_.push_back(std::move(action));
}

void GestureRecognizer::setEnabled(bool enabled) {
  enabled_ = enabled;
  if (!enabled && (state_ == GestureRecognizerState::Began || state_ == GestureRecognizerState::Changed)) {
    transition(GestureRecognizerState::Cancelled);
    state_ = GestureRecognizerState::Possible;
  }
}

Point GestureRecognizer::locationInView(const View* view) const {
  return view ? view->convertPointFromView(location_, nullptr) : location_;
}

bool GestureRecognizer::accepts() const { return enabled_ && view_ != nullptr; }

bool GestureRecognizer::askShouldBegin() {
  auto d = delegate();
  return !d || d->gestureRecognizerShouldBegin(*this);
}

void GestureRecognizer::transition(GestureRecognizerState state) {
  state_ = state;
  // Actions may detach (and so release) this recognizer or add actions.
  const auto actions = actions_;
  for (const auto& action : actions) action(*this);
}

Point PanGestureRecognizer::translationInView(const View*) const {
  const Point now = locationInView(nullptr);
  return {now.x - start_.x, now.y - start_.y};
}

void PanGestureRecognizer::setTranslation(Point translation, const View*) {
  const Point now = locationInView(nullptr);
  start_ = {now.x - translation.x, now.y - translation.y};
}

void PanGestureRecognizer::touchDown(Point windowLocation) {
  if (!accepts()) return;
  tracking_ = true;
  start_ = windowLocation;
  velocity_ = {};
  setLocation(windowLocation);
  setStateQuietly(GestureRecognizerState::Possible);
}

void PanGestureRecognizer::touchMoved(Point windowLocation, Point velocity) {
  if (!tracking_ || !accepts()) return;
  velocity_ = velocity;
  if (state() == GestureRecognizerState::Possible) {
    setLocation(windowLocation);
    if (!askShouldBegin()) {
      setStateQuietly(GestureRecognizerState::Failed);
      tracking_ = false;
      return;
    }
    // Begin where the finger went down, then report this move as the first
    // change, so no distance is lost to the decision.
    const Point translation = translationInView(nullptr);
    setLocation(start_);
    transition(GestureRecognizerState::Began);
    if (!tracking_ || state() != GestureRecognizerState::Began) return;
    setLocation(windowLocation);
    if (translation.x == 0 && translation.y == 0) return;
  } else {
    setLocation(windowLocation);
  }
  if (state() == GestureRecognizerState::Began || state() == GestureRecognizerState::Changed) {
    transition(GestureRecognizerState::Changed);
  }
}

void PanGestureRecognizer::touchUp(Point windowLocation, Point velocity) {
  if (!tracking_) return;
  tracking_ = false;
  if (state() != GestureRecognizerState::Began && state() != GestureRecognizerState::Changed) {
    setStateQuietly(GestureRecognizerState::Possible);
    return;
  }
  velocity_ = velocity;
  setLocation(windowLocation);
  transition(GestureRecognizerState::Ended);
}

void PanGestureRecognizer::touchCancelled() {
  if (!tracking_) return;
  tracking_ = false;
  if (state() == GestureRecognizerState::Began || state() == GestureRecognizerState::Changed) {
    transition(GestureRecognizerState::Cancelled);
  } else {
    setStateQuietly(GestureRecognizerState::Possible);
  }
}

bool TapGestureRecognizer::tap(Point windowLocation) {
  if (!accepts()) return false;
  setLocation(windowLocation);
  if (!askShouldBegin()) {
    setStateQuietly(GestureRecognizerState::Failed);
    return false;
  }
  transition(kGestureRecognized);
  return true;
}

bool SwipeGestureRecognizer::swipe(SwipeDirection direction, Point windowLocation) {
  if (!accepts() || !(direction_ & direction)) return false;
  setLocation(windowLocation);
  if (!askShouldBegin()) {
    setStateQuietly(GestureRecognizerState::Failed);
    return false;
  }
  transition(kGestureRecognized);
  return true;
}

}  // namespace platform::ui
