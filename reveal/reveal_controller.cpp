#include "reveal/reveal_controller.hpp"

#include <cmath>

#include "platform/executor.hpp"

namespace reveal {

using platform::Value;
using platform::ui::GestureRecognizer;
using platform::ui::InterfaceOrientation;
using platform::ui::PanGestureRecognizer;
using platform::ui::TapGestureRecognizer;
using platform::ui::View;
using platform::ui::ViewController;

namespace {

constexpr unsigned kDefaultSideWidth = 270;
constexpr double kDefaultAnimationDuration = 0.185;
constexpr long long kDefaultAnimationCurve = 3;
constexpr double kDefaultQuickSwipeVelocity = 800;
constexpr std::size_t kOptionsCapacity = 10;

// Flexible width and height; left side: flexible right margin and height;
// right side: flexible left margin and height.
constexpr unsigned kFillMask = platform::ui::kAutoresizingFlexibleWidth | platform::ui::kAutoresizingFlexibleHeight;
constexpr unsigned kLeftSideMask =
    platform::ui::kAutoresizingFlexibleRightMargin | platform::ui::kAutoresizingFlexibleHeight;
constexpr unsigned kRightSideMask =
    platform::ui::kAutoresizingFlexibleLeftMargin | platform::ui::kAutoresizingFlexibleHeight;

unsigned wholePoints(double value) {
  if (!(value > 0)) return 0;
  if (value >= 4294967295.0) return 4294967295u;
  return static_cast<unsigned>(value);
}

}  // namespace

RevealController::RevealController(ViewControllerPtr front, ViewControllerPtr left, ViewControllerPtr right)
    : front_(std::move(front)), left_(std::move(left)), right_(std::move(right)) {
  platform::Dictionary empty;
  empty.reserve(kOptionsCapacity);
  options_ = Value(std::move(empty));
}

std::shared_ptr<RevealController> RevealController::create(ViewControllerPtr front, ViewControllerPtr left,
                                                           ViewControllerPtr right, const Value& options) {
  auto container = std::make_shared<RevealController>(std::move(front), std::move(left), std::move(right));
  container->linkChild(container->front_);
  container->linkChild(container->left_);
  container->linkChild(container->right_);
  if (options.isDictionary()) container->options_ = options.deepCopy();
  return container;
}

std::shared_ptr<RevealController> RevealController::createWithLeft(ViewControllerPtr front, ViewControllerPtr left,
                                                                   const Value& options) {
  return create(std::move(front), std::move(left), nullptr, options);
}

std::shared_ptr<RevealController> RevealController::createWithRight(ViewControllerPtr front, ViewControllerPtr right,
                                                                    const Value& options) {
  return create(std::move(front), nullptr, std::move(right), options);
}

RevealController::~RevealController() {
  for (auto* controller : {&front_, &left_, &right_}) {
    if (!*controller) continue;
    if ((*controller)->parentViewController() == this) (*controller)->removeFromParentViewController();
    if ((*controller)->isViewLoaded()) (*controller)->view()->removeFromSuperview();
  }
  frontContainer_.reset();
  leftContainer_.reset();
  rightContainer_.reset();
}

std::weak_ptr<RevealController> RevealController::weakSelf() {
  return std::static_pointer_cast<RevealController>(shared_from_this());
}

void RevealController::linkChild(const ViewControllerPtr& controller) {
  if (controller) controller->setRevealController(weak_from_this());
}

std::shared_ptr<RevealController> revealControllerOf(const ViewController& controller) {
  return std::dynamic_pointer_cast<RevealController>(controller.revealController());
}

// ---- Options ----

Value RevealController::option(const char* key) { return options_[key]; }

void RevealController::setOption(const char* key, Value value) { options_.asDictionary().set(key, std::move(value)); }

double RevealController::animationDuration() {
  if (option(kRevealControllerAnimationDurationKey).isNil()) setAnimationDuration(kDefaultAnimationDuration);
  return option(kRevealControllerAnimationDurationKey).doubleValue();
}
void RevealController::setAnimationDuration(double seconds) { setOption(kRevealControllerAnimationDurationKey, seconds); }

long long RevealController::animationCurve() {
  if (option(kRevealControllerAnimationCurveKey).isNil()) setAnimationCurve(kDefaultAnimationCurve);
  return option(kRevealControllerAnimationCurveKey).longLongValue();
}
void RevealController::setAnimationCurve(long long curve) { setOption(kRevealControllerAnimationCurveKey, curve); }

long long RevealController::animationType() {
  if (option(kRevealControllerAnimationTypeKey).isNil()) setAnimationType(kRevealAnimationTypeDefault);
  return option(kRevealControllerAnimationTypeKey).longLongValue();
}
void RevealController::setAnimationType(long long type) { setOption(kRevealControllerAnimationTypeKey, type); }

bool RevealController::allowsOverdraw() {
  if (option(kRevealControllerAllowsOverdrawKey).isNil()) setAllowsOverdraw(true);
  return option(kRevealControllerAllowsOverdrawKey).boolValue();
}
void RevealController::setAllowsOverdraw(bool allows) { setOption(kRevealControllerAllowsOverdrawKey, allows); }

double RevealController::quickSwipeVelocity() {
  if (option(kRevealControllerQuickSwipeToggleVelocityKey).isNil()) setQuickSwipeVelocity(kDefaultQuickSwipeVelocity);
  return option(kRevealControllerQuickSwipeToggleVelocityKey).doubleValue();
}
void RevealController::setQuickSwipeVelocity(double pointsPerSecond) {
  setOption(kRevealControllerQuickSwipeToggleVelocityKey, pointsPerSecond);
}

bool RevealController::disablesFrontViewInteraction() {
  if (option(kRevealControllerDisablesFrontViewInteractionKey).isNil()) setDisablesFrontViewInteraction(true);
  return option(kRevealControllerDisablesFrontViewInteractionKey).boolValue();
}
void RevealController::setDisablesFrontViewInteraction(bool disables) {
  setOption(kRevealControllerDisablesFrontViewInteractionKey, disables);
}

bool RevealController::recognizesPanningOnFrontView() {
  if (option(kRevealControllerRecognizesPanningOnFrontViewKey).isNil()) setRecognizesPanningOnFrontView(true);
  return option(kRevealControllerRecognizesPanningOnFrontViewKey).boolValue();
}
void RevealController::setRecognizesPanningOnFrontView(bool recognizes) {
  setOption(kRevealControllerRecognizesPanningOnFrontViewKey, recognizes);
  updatePanGestureRecognizer();
}

bool RevealController::recognizesResetTapOnFrontView() {
  if (option(kRevealControllerRecognizesResetTapOnFrontViewKey).isNil()) setRecognizesResetTapOnFrontView(true);
  return option(kRevealControllerRecognizesResetTapOnFrontViewKey).boolValue();
}
void RevealController::setRecognizesResetTapOnFrontView(bool recognizes) {
  setOption(kRevealControllerRecognizesResetTapOnFrontViewKey, recognizes);
  updateResetTapGestureRecognizer();
}

// ---- Controllers ----

RevealType RevealController::type() const {
  if (front_ && left_ && right_) return kRevealTypeBoth;
  if (front_ && left_) return kRevealTypeLeft;
  if (front_ && right_) return kRevealTypeRight;
  return kRevealTypeNone;
}

RevealController::ViewControllerPtr RevealController::focusedController() const {
  switch (state_) {
    case kRevealStateFocusLeft: return left_;
    case kRevealStateFocusRight: return right_;
    case kRevealStateFocusFront: return front_;
    default: return nullptr;
  }
}

void RevealController::setFrontViewController(const ViewControllerPtr& controller) {
  if (controller == front_) return;
  removeFrontViewControllerFromHierarchy();
  front_ = controller;
  linkChild(front_);
  addFrontViewControllerToHierarchy();
}

void RevealController::setFrontViewController(const ViewControllerPtr& controller, bool focusAfterChange,
                                              Completion completion) {
  setFrontViewController(controller);
  if (focusAfterChange && (isLeftViewVisible() || isRightViewVisible())) {
    showFrontViewControllerAnimated(true, std::move(completion));
  } else {
    deliver(completion, true);
  }
}

void RevealController::setLeftViewController(const ViewControllerPtr& controller) {
  if (controller == left_) return;
  const bool leftVisible = isLeftViewVisible();
  if (leftVisible) removeLeftViewControllerFromHierarchy();
  left_ = controller;
  linkChild(left_);
  if (leftVisible) {
    removeRightViewControllerFromHierarchy();
    addLeftViewControllerToHierarchy();
  }
}

void RevealController::setRightViewController(const ViewControllerPtr& controller) {
  if (controller == right_) return;
  const bool rightFocused = state_ == kRevealStateFocusRight;
  if (rightFocused) removeRightViewControllerFromHierarchy();
  right_ = controller;
  linkChild(right_);
  if (rightFocused) {
    removeLeftViewControllerFromHierarchy();
    addRightViewControllerToHierarchy();
  }
}

// ---- Widths ----

void RevealController::setMinimumWidth(double minimumWidth, double maximumWidth, const ViewController* controller) {
  if (!controller) return;
  const WidthRange range{wholePoints(minimumWidth), wholePoints(maximumWidth)};
  if (controller == left_.get()) {
    leftRange_ = range;
  } else if (controller == right_.get()) {
    rightRange_ = range;
  }
}

double RevealController::leftViewMaxWidthRespectingOverdraw(bool respectOverdraw) {
  if (respectOverdraw && !allowsOverdraw()) return leftRange_.location;
  return leftRange_.length;
}

double RevealController::rightViewMaxWidthRespectingOverdraw(bool respectOverdraw) {
  if (respectOverdraw && !allowsOverdraw()) return rightRange_.location;
  return rightRange_.length;
}

// ---- Geometry ----

Rect RevealController::frontViewFrameForCenter() {
  const Rect b = view()->bounds();
  return Rect(0, 0, b.width(), b.height());
}

Rect RevealController::frontViewFrameForVisibleLeftView() { return frontViewFrameForCenter().offsetBy(leftViewMinWidth(), 0); }

Rect RevealController::frontViewFrameForVisibleRightView() {
  return frontViewFrameForCenter().offsetBy(-rightViewMinWidth(), 0);
}

Rect RevealController::frontViewFrameForLeftViewPresentationMode() {
  Rect frame = frontViewFrameForCenter();
  frame.origin.x = leftViewMaxWidthRespectingOverdraw(false);
  return frame;
}

Rect RevealController::frontViewFrameForRightViewPresentationMode() {
  Rect frame = frontViewFrameForCenter();
  frame.origin.x = -rightViewMaxWidthRespectingOverdraw(false);
  return frame;
}

Rect RevealController::frontViewFrameForCurrentState() {
  switch (state_) {
    case kRevealStateFocusLeft: return frontViewFrameForVisibleLeftView();
    case kRevealStateFocusRight: return frontViewFrameForVisibleRightView();
    case kRevealStateFocusFront: return frontViewFrameForCenter();
    // A front set during presentation mode takes the presentation position
    // instead of an unusable null frame.
    case kRevealStatePresentLeft: return frontViewFrameForLeftViewPresentationMode();
    case kRevealStatePresentRight: return frontViewFrameForRightViewPresentationMode();
  }
  return Rect::null();
}

Rect RevealController::leftViewFrame() {
  return Rect(0, 0, leftViewMaxWidthRespectingOverdraw(false), view()->bounds().height());
}

Rect RevealController::rightViewFrame() {
  const Rect frontBounds = frontContainer_ ? frontContainer_->bounds() : view()->bounds();
  if (animationType() != kRevealAnimationTypeDefault) return frontBounds;
  const double width = rightViewMaxWidthRespectingOverdraw(false);
  return Rect(frontBounds.width() - width, 0, width, view()->bounds().height());
}

double RevealController::frontX() const { return frontContainer_ ? frontContainer_->frame().x() : 0; }

bool RevealController::isLeftViewVisible() const { return frontX() > 0; }
bool RevealController::isRightViewVisible() const { return frontX() < 0; }
bool RevealController::isFrontViewEntirelyVisible() const { return frontX() == 0; }

// ---- Loading and hierarchy ----

void RevealController::viewDidLoad() {
  ViewController::viewDidLoad();
  state_ = kRevealStateFocusFront;
  leftRange_ = {kDefaultSideWidth, kDefaultSideWidth};
  rightRange_ = {kDefaultSideWidth, kDefaultSideWidth};
  view()->setAutoresizingMask(kFillMask);
  auto self = weakSelf();
  pan_ = std::make_shared<PanGestureRecognizer>([self](GestureRecognizer& r) {
    if (auto container = self.lock()) container->didRecognizePanWithGestureRecognizer(r);
  });
  pan_->setDelegate(self);
  tap_ = std::make_shared<TapGestureRecognizer>([self](GestureRecognizer& r) {
    if (auto container = self.lock()) container->didRecognizeTapWithGestureRecognizer(r);
  });
  tap_->setDelegate(self);
  addFrontViewControllerToHierarchy();
}

void RevealController::addFrontViewControllerToHierarchy() {
  if (!front_ || front_->parentViewController() == this || !isViewLoaded()) return;
  addChildViewController(front_);
  if (frontContainer_) {
    frontContainer_->setViewController(front_);
  } else {
    frontContainer_ = RevealControllerContainerView::create(front_, true);
    frontContainer_->setAutoresizingMask(kFillMask);
  }
  frontContainer_->setFrame(frontViewFrameForCurrentState());
  view()->addSubview(frontContainer_);
  front_->didMoveToParentViewController(this);
  updatePanGestureRecognizer();
}

void RevealController::addLeftViewControllerToHierarchy() {
  if (!left_ || left_->parentViewController() == this) return;
  addChildViewController(left_);
  if (leftContainer_) {
    leftContainer_->setViewController(left_);
  } else {
    leftContainer_ = RevealControllerContainerView::create(left_, false);
    leftContainer_->setAutoresizingMask(kLeftSideMask);
  }
  leftContainer_->setFrame(leftViewFrame());
  view()->insertSubviewBelow(leftContainer_, frontContainer_.get());
  left_->didMoveToParentViewController(this);
}

void RevealController::addRightViewControllerToHierarchy() {
  if (!right_ || right_->parentViewController() == this) return;
  addChildViewController(right_);
  if (rightContainer_) {
    rightContainer_->setViewController(right_);
  } else {
    rightContainer_ = RevealControllerContainerView::create(right_, false);
    rightContainer_->setAutoresizingMask(kRightSideMask);
  }
  rightContainer_->setFrame(rightViewFrame());
  view()->insertSubviewBelow(rightContainer_, frontContainer_.get());
  right_->didMoveToParentViewController(this);
}

void RevealController::removeFrontViewControllerFromHierarchy() {
  if (!front_ || front_->parentViewController() != this) return;
  if (pan_ && frontContainer_) frontContainer_->removeGestureRecognizer(pan_.get());
  removeSide(front_, frontContainer_);
}

void RevealController::removeLeftViewControllerFromHierarchy() { removeSide(left_, leftContainer_); }

void RevealController::removeRightViewControllerFromHierarchy() { removeSide(right_, rightContainer_); }

void RevealController::removeSide(const ViewControllerPtr& controller,
                                  const std::shared_ptr<RevealControllerContainerView>& container) {
  if (!controller || controller->parentViewController() != this) return;
  controller->willMoveToParentViewController(nullptr);
  if (container) container->removeFromSuperview();
  controller->removeFromParentViewController();
}

// ---- Moving the front ----

void RevealController::deliver(const Completion& completion, bool finished) {
  if (!completion) return;
  if (platform::isMainThread()) {
    completion(finished);
  } else {
    platform::mainQueue().post([completion, finished] { completion(finished); });
  }
}

void RevealController::setFrontViewFrame(Rect frame, bool animated, Completion completion) {
  if (animationType() != kRevealAnimationTypeDefault) return;
  const auto options = static_cast<unsigned>(animationCurve()) | platform::ui::kAnimationBeginFromCurrentState;
  setFrontViewFrameLinearly(frame, animated, animationDuration(), options, std::move(completion));
}

void RevealController::setFrontViewFrameLinearly(Rect frame, bool, double duration, unsigned options,
                                                 Completion completion) {
  // The move always animates: the animated flag is deliberately not consulted.
  auto container = frontContainer_;
  View::animate(
      duration, 0, options,
      [container, frame] {
        if (container) container->setFrame(frame);
      },
      [completion = std::move(completion)](bool finished) { deliver(completion, finished); });
}

// ---- Showing ----

void RevealController::showViewController(const ViewControllerPtr& controller) {
  showViewController(controller, true, {});
}

void RevealController::showViewController(const ViewControllerPtr& controller, bool animated, Completion completion) {
  if (controller == left_) {
    if (hasLeftViewController()) showLeftViewControllerAnimated(animated, std::move(completion));
  } else if (controller == right_) {
    if (hasRightViewController()) showRightViewControllerAnimated(animated, std::move(completion));
  } else if (controller == front_) {
    showFrontViewControllerAnimated(animated, std::move(completion));
  }
}

void RevealController::showLeftViewControllerAnimated(bool animated, Completion completion) {
  auto self = weakSelf();
  auto step = [self, animated, completion] {
    auto container = self.lock();
    if (!container) return;
    container->removeRightViewControllerFromHierarchy();
    container->addLeftViewControllerToHierarchy();
    container->setFrontViewFrame(container->frontViewFrameForVisibleLeftView(), animated,
                                 [self, completion](bool finished) {
                                   auto c = self.lock();
                                   if (!c) return;
                                   if (c->disablesFrontViewInteraction() && c->frontContainer_) {
                                     c->frontContainer_->disableUserInteractionForContainedView();
                                   }
                                   c->state_ = kRevealStateFocusLeft;
                                   c->updateResetTapGestureRecognizer();
                                   c->removeRightViewControllerFromHierarchy();
                                   deliver(completion, finished);
                                 });
  };
  if (isRightViewVisible()) {
    showFrontViewControllerAnimated(animated, [step](bool) { step(); });
  } else {
    step();
  }
}

void RevealController::showRightViewControllerAnimated(bool animated, Completion completion) {
  auto self = weakSelf();
  auto step = [self, animated, completion] {
    auto container = self.lock();
    if (!container) return;
    container->removeLeftViewControllerFromHierarchy();
    container->addRightViewControllerToHierarchy();
    container->setFrontViewFrame(container->frontViewFrameForVisibleRightView(), animated,
                                 [self, completion](bool finished) {
                                   auto c = self.lock();
                                   if (!c) return;
                                   if (c->disablesFrontViewInteraction() && c->frontContainer_) {
                                     c->frontContainer_->disableUserInteractionForContainedView();
                                   }
                                   c->state_ = kRevealStateFocusRight;
                                   c->updateResetTapGestureRecognizer();
                                   deliver(completion, finished);
                                 });
  };
  if (isLeftViewVisible()) {
    showFrontViewControllerAnimated(animated, [step](bool) { step(); });
  } else {
    step();
  }
}

void RevealController::showFrontViewControllerAnimated(bool animated, Completion completion) {
  auto self = weakSelf();
  setFrontViewFrame(frontViewFrameForCenter(), animated, [self, completion](bool finished) {
    auto c = self.lock();
    if (!c) return;
    if (c->disablesFrontViewInteraction() && c->frontContainer_) {
      c->frontContainer_->enableUserInteractionForContainedView();
    }
    c->state_ = kRevealStateFocusFront;
    c->removeLeftViewControllerFromHierarchy();
    c->removeRightViewControllerFromHierarchy();
    c->updateResetTapGestureRecognizer();
    deliver(completion, finished);
  });
}

// ---- Presentation mode ----

bool RevealController::isPresentationModeActive() const {
  return state_ == kRevealStatePresentLeft || state_ == kRevealStatePresentRight;
}

void RevealController::enterPresentationModeAnimated(bool animated, Completion completion) {
  if (isLeftViewVisible()) {
    enterPresentationModeForLeftViewControllerAnimated(animated, std::move(completion));
  } else if (isRightViewVisible()) {
    enterPresentationModeForRightViewControllerAnimated(animated, std::move(completion));
  }
}

void RevealController::enterPresentationModeForLeftViewControllerAnimated(bool animated, Completion completion) {
  auto self = weakSelf();
  setFrontViewFrame(frontViewFrameForLeftViewPresentationMode(), animated, [self, completion](bool finished) {
    if (auto c = self.lock()) c->state_ = kRevealStatePresentLeft;
    deliver(completion, finished);
  });
}

void RevealController::enterPresentationModeForRightViewControllerAnimated(bool animated, Completion completion) {
  auto self = weakSelf();
  setFrontViewFrame(frontViewFrameForRightViewPresentationMode(), animated, [self, completion](bool finished) {
    if (auto c = self.lock()) c->state_ = kRevealStatePresentRight;
    deliver(completion, finished);
  });
}

void RevealController::resignPresentationModeEntirely(bool entirely, bool animated, Completion completion) {
  if (isLeftViewVisible()) {
    resignPresentationModeForLeftViewControllerEntirely(entirely, animated, std::move(completion));
  } else if (isRightViewVisible()) {
    resignPresentationModeForRightViewControllerEntirely(entirely, animated, std::move(completion));
  }
}

void RevealController::resignPresentationModeForLeftViewControllerEntirely(bool entirely, bool animated,
                                                                           Completion completion) {
  auto self = weakSelf();
  const Rect target = entirely ? frontViewFrameForCenter() : frontViewFrameForVisibleLeftView();
  const RevealState next = entirely ? kRevealStateFocusFront : kRevealStateFocusLeft;
  setFrontViewFrame(target, animated, [self, next, completion](bool finished) {
    if (auto c = self.lock()) c->state_ = next;
    deliver(completion, finished);
  });
}

void RevealController::resignPresentationModeForRightViewControllerEntirely(bool entirely, bool animated,
                                                                            Completion completion) {
  auto self = weakSelf();
  const Rect target = entirely ? frontViewFrameForCenter() : frontViewFrameForVisibleRightView();
  const RevealState next = entirely ? kRevealStateFocusFront : kRevealStateFocusRight;
  setFrontViewFrame(target, animated, [self, next, completion](bool finished) {
    if (auto c = self.lock()) c->state_ = next;
    deliver(completion, finished);
  });
}

// ---- Rotation ----

bool RevealController::shouldAutorotate() const {
  auto asks = [](const ViewControllerPtr& c) { return c && c->shouldAutorotate(); };
  if (left_ && right_) return asks(front_) && asks(left_) && asks(right_);
  if (!left_) return asks(front_) && (!right_ || asks(right_));
  return asks(front_) && asks(left_);
}

unsigned RevealController::supportedInterfaceOrientations() const {
  auto mask = [](const ViewControllerPtr& c) { return c ? c->supportedInterfaceOrientations() : 0u; };
  if (left_ && right_) return mask(front_) & mask(left_) & mask(right_);
  if (!left_) return mask(front_) & (right_ ? mask(right_) : ~0u);
  return mask(front_) & mask(left_);
}

bool RevealController::shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) const {
  auto asks = [orientation](const ViewControllerPtr& c) {
    return c && c->shouldAutorotateToInterfaceOrientation(orientation);
  };
  return asks(front_) && asks(left_) && asks(right_);
}

void RevealController::willAnimateRotationToInterfaceOrientation(InterfaceOrientation orientation, double duration) {
  ViewController::willAnimateRotationToInterfaceOrientation(orientation, duration);
  if (frontContainer_) frontContainer_->refreshShadowWithAnimationDuration(duration);
}

}  // namespace reveal
