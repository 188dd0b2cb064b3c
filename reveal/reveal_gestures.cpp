// The touch side of the container: dragging the front, releasing it, and
// the reset tap.

#include <cmath>

#include "reveal/reveal_controller.hpp"

namespace reveal {

using platform::ui::GestureRecognizer;
using platform::ui::GestureRecognizerState;
using platform::ui::PanGestureRecognizer;

namespace {
// Past a side's minimum width the front follows the finger at this speed.
constexpr double kOverdrawFactor = 0.5;
}  // namespace

void RevealController::updatePanGestureRecognizer() {
  if (!pan_ || !frontContainer_) return;
  if (recognizesPanningOnFrontView()) {
    if (!frontContainer_->hasGestureRecognizer(pan_.get())) frontContainer_->addGestureRecognizer(pan_);
  } else if (frontContainer_->hasGestureRecognizer(pan_.get())) {
    frontContainer_->removeGestureRecognizer(pan_.get());
  }
}

void RevealController::updateResetTapGestureRecognizer() {
  if (!tap_ || !frontContainer_) return;
  if (recognizesResetTapOnFrontView() && state_ != kRevealStateFocusFront) {
    if (!frontContainer_->hasGestureRecognizer(tap_.get())) frontContainer_->addGestureRecognizer(tap_);
  } else if (frontContainer_->hasGestureRecognizer(tap_.get())) {
    frontContainer_->removeGestureRecognizer(tap_.get());
  }
}

bool RevealController::gestureRecognizerShouldBegin(GestureRecognizer& recognizer) {
  if (&recognizer == pan_.get()) {
    const Point t = pan_->translationInView(frontContainer_.get());
    return std::fabs(t.x) >= std::fabs(t.y);
  }
  if (&recognizer == tap_.get()) return isLeftViewVisible() || isRightViewVisible();
  return true;
}

void RevealController::didRecognizeTapWithGestureRecognizer(GestureRecognizer&) {
  showViewController(front_, true, {});
}

void RevealController::didRecognizePanWithGestureRecognizer(GestureRecognizer& recognizer) {
  auto& pan = static_cast<PanGestureRecognizer&>(recognizer);
  switch (recognizer.state()) {
    case GestureRecognizerState::Began: handleGestureBeganWithRecognizer(pan); break;
    case GestureRecognizerState::Changed: handleGestureChangedWithRecognizer(pan); break;
    case GestureRecognizerState::Ended:
    case GestureRecognizerState::Cancelled:
    case GestureRecognizerState::Failed: handleGestureEndedWithRecognizer(pan); break;
    default: pan_->setEnabled(true); break;
  }
}

void RevealController::handleGestureBeganWithRecognizer(PanGestureRecognizer& recognizer) {
  initialTouch_ = recognizer.locationInView(view().get());
  previousTouch_ = initialTouch_;
}

void RevealController::handleGestureChangedWithRecognizer(PanGestureRecognizer& recognizer) {
  const Point location = recognizer.locationInView(view().get());
  const double delta = location.x - previousTouch_.x;
  previousTouch_ = location;
  translateViewsBy(delta, animationType());
  adjustLeftAndRightViewVisibilities();
}

void RevealController::translateViewsBy(double delta, long long type) {
  if (!frontContainer_) return;
  const double x = frontContainer_->frame().x();
  const double c = frontViewFrameForCenter().x();
  const double n = x + delta;
  const bool hasLeft = hasLeftViewController();
  const bool hasRight = hasRightViewController();
  const bool inMinimumBand = (hasLeft && c < n && n < c + leftViewMinWidth()) ||
                             (hasRight && c - rightViewMinWidth() < n && n < c);
  const bool inMaximumBand = (hasLeft && c < n && n < c + leftViewMaxWidthRespectingOverdraw(true)) ||
                             (hasRight && c - rightViewMaxWidthRespectingOverdraw(true) < n && n < c);
  // The drag stops at the centre and at the maximum width.
  if (!inMinimumBand && !inMaximumBand) return;
  if (type != kRevealAnimationTypeDefault) return;
  translateFrontViewBy(delta, inMaximumBand && !inMinimumBand);
}

void RevealController::translateFrontViewBy(double delta, bool isOverdrawing) {
  if (!frontContainer_) return;
  Rect frame = frontContainer_->frame();
  const double x = frame.x();
  if (!isOverdrawing) {
    frame.origin.x = x + delta;
  } else if (allowsOverdraw()) {
    frame.origin.x = std::floor(x + delta * kOverdrawFactor);
  }
  frontContainer_->setFrame(frame);
}

void RevealController::adjustLeftAndRightViewVisibilities() {
  if (frontX() > 0) {
    removeRightViewControllerFromHierarchy();
    addLeftViewControllerToHierarchy();
  } else {
    removeLeftViewControllerFromHierarchy();
    addRightViewControllerToHierarchy();
  }
}

void RevealController::handleGestureEndedWithRecognizer(PanGestureRecognizer& recognizer) {
  const double velocity = recognizer.velocityInView(view().get()).x;
  if (shouldMoveFrontViewRightwardsForVelocity(velocity)) {
    moveFrontViewRightwardsIfPossible();
  } else if (shouldMoveFrontViewLeftwardsForVelocity(velocity)) {
    moveFrontViewLeftwardsIfPossible();
  } else {
    snapFrontViewToClosestEdge();
  }
  pan_->setEnabled(true);
}

bool RevealController::shouldMoveFrontViewRightwardsForVelocity(double velocity) {
  return velocity > 0 && velocity > quickSwipeVelocity();
}

bool RevealController::shouldMoveFrontViewLeftwardsForVelocity(double velocity) {
  return velocity < 0 && std::fabs(velocity) > quickSwipeVelocity();
}

void RevealController::moveFrontViewRightwardsIfPossible() {
  if (frontX() < 0) {
    showViewController(front_);
  } else {
    showViewController(left_);
  }
}

void RevealController::moveFrontViewLeftwardsIfPossible() {
  if (frontX() <= 0) {
    showViewController(right_);
  } else {
    showViewController(front_);
  }
}

void RevealController::snapFrontViewToClosestEdge() {
  const Rect frontFrame = frontContainer_ ? frontContainer_->frame() : Rect();
  if (isLeftViewVisible()) {
    Rect strip = leftContainer_ ? leftContainer_->frame() : Rect();
    strip.size.width = leftViewMinWidth();
    const Rect overlap = strip.intersection(frontFrame);
    const double o = overlap.isNull() ? 0 : overlap.width();
    const double h = std::floor(leftViewMinWidth() * 0.5);
    showViewController(o <= h ? left_ : front_);
  } else if (isRightViewVisible()) {
    Rect strip = rightContainer_ ? rightContainer_->frame() : Rect();
    strip.origin.x += strip.width() - rightViewMinWidth();
    strip.size.width = rightViewMinWidth();
    const Rect overlap = strip.intersection(frontFrame);
    const double o = overlap.isNull() ? 0 : overlap.width();
    const double h = std::floor(rightViewMinWidth() * 0.5);
    showViewController(o > h ? front_ : right_);
  } else {
    showViewController(front_);
  }
}

}  // namespace reveal
