#pragma once
// The sliding-panel container: a front controller over up to two side
// controllers. The front slides sideways to reveal a side to its minimum
// width (or, in presentation mode, its maximum width) and back. Everything
// runs on the main thread; completions are delivered there.

#include <functional>
#include <memory>

#include "platform/ui/gesture_recognizer.hpp"
#include "platform/ui/view_controller.hpp"
#include "platform/value.hpp"
#include "reveal/reveal_controller_container_view.hpp"

namespace reveal {

using platform::ui::Point;
using platform::ui::Rect;

enum RevealState : unsigned {
  kRevealStateFocusLeft = 0,
  kRevealStateFocusRight = 1,
  kRevealStateFocusFront = 2,
  kRevealStatePresentLeft = 3,
  kRevealStatePresentRight = 4,
};

enum RevealType : unsigned {
  kRevealTypeNone = 0,
  kRevealTypeLeft = 1,
  kRevealTypeRight = 2,
  kRevealTypeBoth = 3,
};

// The only animation type that moves the front; any other freezes it.
inline constexpr long long kRevealAnimationTypeDefault = 0;

inline constexpr const char* kRevealControllerAnimationDurationKey = "RevealControllerAnimationDurationKey";
inline constexpr const char* kRevealControllerAnimationCurveKey = "RevealControllerAnimationCurveKey";
inline constexpr const char* kRevealControllerAnimationTypeKey = "RevealControllerAnimationTypeKey";
inline constexpr const char* kRevealControllerAllowsOverdrawKey = "RevealControllerAllowsOverdrawKey";
inline constexpr const char* kRevealControllerQuickSwipeToggleVelocityKey = "RevealControllerQuickSwipeToggleVelocityKey";
inline constexpr const char* kRevealControllerDisablesFrontViewInteractionKey =
    "RevealControllerDisablesFrontViewInteractionKey";
inline constexpr const char* kRevealControllerRecognizesPanningOnFrontViewKey =
    "RevealControllerRecognizesPanningOnFrontViewKey";
inline constexpr const char* kRevealControllerRecognizesResetTapOnFrontViewKey =
    "RevealControllerRecognizesResetTapOnFrontViewKey";

// A side's widths in points: location is the minimum, length the maximum.
struct WidthRange {
  unsigned location = 0;
  unsigned length = 0;
  bool operator==(const WidthRange&) const = default;
};

// Called once with whether the move finished, on the main thread.
using Completion = std::function<void(bool finished)>;

class RevealController : public platform::ui::ViewController, public platform::ui::GestureRecognizerDelegate {
 public:
  using ViewControllerPtr = std::shared_ptr<platform::ui::ViewController>;

  // A container over the controllers (any may be null) with the options (a
  // dictionary, copied; nil for all defaults). Each controller's
  // revealController link is set to the new container.
  static std::shared_ptr<RevealController> create(ViewControllerPtr front, ViewControllerPtr left,
                                                  ViewControllerPtr right,
                                                  const platform::Value& options = platform::Value());
  static std::shared_ptr<RevealController> createWithLeft(ViewControllerPtr front, ViewControllerPtr left,
                                                          const platform::Value& options = platform::Value());
  static std::shared_ptr<RevealController> createWithRight(ViewControllerPtr front, ViewControllerPtr right,
                                                           const platform::Value& options = platform::Value());
  ~RevealController() override;

  // --- Showing ---
  // Same as showViewController(controller, true, {}).
  void showViewController(const ViewControllerPtr& controller);
  // Compares by identity with the left, the right, then the front and shows
  // that one when the container has it; anything else does nothing (a null
  // argument matches an absent left and so does nothing).
  void showViewController(const ViewControllerPtr& controller, bool animated, Completion completion);
  void showLeftViewControllerAnimated(bool animated, Completion completion = {});
  void showRightViewControllerAnimated(bool animated, Completion completion = {});
  void showFrontViewControllerAnimated(bool animated, Completion completion = {});

  // --- Presentation mode ---
  // Enters for the visible side; with the front centred nothing happens and
  // the completion is not called.
  void enterPresentationModeAnimated(bool animated, Completion completion = {});
  void enterPresentationModeForLeftViewControllerAnimated(bool animated, Completion completion = {});
  void enterPresentationModeForRightViewControllerAnimated(bool animated, Completion completion = {});
  // Leaves it for the visible side: to the centre (entirely) or to the
  // side's open position.
  void resignPresentationModeEntirely(bool entirely, bool animated, Completion completion = {});
  void resignPresentationModeForLeftViewControllerEntirely(bool entirely, bool animated, Completion completion = {});
  void resignPresentationModeForRightViewControllerEntirely(bool entirely, bool animated, Completion completion = {});
  bool isPresentationModeActive() const;

  // --- Controllers ---
  const ViewControllerPtr& frontViewController() const { return front_; }
  const ViewControllerPtr& leftViewController() const { return left_; }
  const ViewControllerPtr& rightViewController() const { return right_; }
  void setFrontViewController(const ViewControllerPtr& controller);
  // Replaces the front; then, if asked and a side is visible, shows the
  // front passing the completion; otherwise completes at once with true.
  void setFrontViewController(const ViewControllerPtr& controller, bool focusAfterChange, Completion completion);
  void setLeftViewController(const ViewControllerPtr& controller);
  void setRightViewController(const ViewControllerPtr& controller);
  RevealType type() const;
  bool hasLeftViewController() const { return type() & kRevealTypeLeft; }
  bool hasRightViewController() const { return type() & kRevealTypeRight; }
  // Left in state 0, right in 1, front in 2, null in presentation mode.
  ViewControllerPtr focusedController() const;
  RevealState state() const { return state_; }

  // --- Widths ---
  // Sets the range of the side whose controller this is (by identity),
  // truncated to whole points (negative values count as 0). Ranges are
  // reset to 270/270 when the view loads.
  void setMinimumWidth(double minimumWidth, double maximumWidth, const platform::ui::ViewController* controller);
  double leftViewMinWidth() const { return leftRange_.location; }
  double rightViewMinWidth() const { return rightRange_.location; }
  // The minimum when `respectOverdraw` and overdraw is not allowed, else the maximum.
  double leftViewMaxWidthRespectingOverdraw(bool respectOverdraw);
  double rightViewMaxWidthRespectingOverdraw(bool respectOverdraw);
  WidthRange leftViewWidthRange() const { return leftRange_; }
  void setLeftViewWidthRange(WidthRange range) { leftRange_ = range; }
  WidthRange rightViewWidthRange() const { return rightRange_; }
  void setRightViewWidthRange(WidthRange range) { rightRange_ = range; }

  // --- Options (each accessor stores the default through its setter when absent) ---
  double animationDuration();
  void setAnimationDuration(double seconds);
  long long animationCurve();
  void setAnimationCurve(long long curve);
  long long animationType();
  void setAnimationType(long long type);
  bool allowsOverdraw();
  void setAllowsOverdraw(bool allows);
  double quickSwipeVelocity();
  void setQuickSwipeVelocity(double pointsPerSecond);
  bool disablesFrontViewInteraction();
  void setDisablesFrontViewInteraction(bool disables);
  bool recognizesPanningOnFrontView();
  // Also attaches or detaches the pan recognizer.
  void setRecognizesPanningOnFrontView(bool recognizes);
  bool recognizesResetTapOnFrontView();
  // Also attaches or detaches the reset-tap recognizer.
  void setRecognizesResetTapOnFrontView(bool recognizes);
  // The options dictionary (shared, mutable).
  const platform::Value& options() const { return options_; }

  // --- Geometry (in the container's view coordinates) ---
  Rect frontViewFrameForCenter();
  Rect frontViewFrameForVisibleLeftView();
  Rect frontViewFrameForVisibleRightView();
  Rect frontViewFrameForLeftViewPresentationMode();
  Rect frontViewFrameForRightViewPresentationMode();
  Rect frontViewFrameForCurrentState();
  Rect leftViewFrame();
  Rect rightViewFrame();

  // --- Container views (null until created) ---
  const std::shared_ptr<RevealControllerContainerView>& frontViewContainer() const { return frontContainer_; }
  const std::shared_ptr<RevealControllerContainerView>& leftViewContainer() const { return leftContainer_; }
  const std::shared_ptr<RevealControllerContainerView>& rightViewContainer() const { return rightContainer_; }

  // Visibility from the front container's x: > 0 left, < 0 right, 0 front.
  bool isLeftViewVisible() const;
  bool isRightViewVisible() const;
  bool isFrontViewEntirelyVisible() const;

  // --- Gestures ---
  // Created when the view loads; null before.
  const std::shared_ptr<platform::ui::PanGestureRecognizer>& revealPanGestureRecognizer() const { return pan_; }
  const std::shared_ptr<platform::ui::TapGestureRecognizer>& revealResetTapGestureRecognizer() const { return tap_; }
  Point initialTouchLocation() const { return initialTouch_; }
  Point previousTouchLocation() const { return previousTouch_; }

  // Pan: only when |x| >= |y| of its translation; reset tap: only with a side visible.
  bool gestureRecognizerShouldBegin(platform::ui::GestureRecognizer& recognizer) override;
  void updatePanGestureRecognizer();
  void updateResetTapGestureRecognizer();
  // Moves the front by `delta` within the width bands (see the gesture rules).
  void translateViewsBy(double delta, long long animationType);
  void translateFrontViewBy(double delta, bool isOverdrawing);
  void adjustLeftAndRightViewVisibilities();
  void moveFrontViewRightwardsIfPossible();
  void moveFrontViewLeftwardsIfPossible();
  void snapFrontViewToClosestEdge();
  bool shouldMoveFrontViewRightwardsForVelocity(double velocity);
  bool shouldMoveFrontViewLeftwardsForVelocity(double velocity);

  // --- Controller events ---
  void viewDidLoad() override;
  bool shouldAutorotate() const override;
  unsigned supportedInterfaceOrientations() const override;
  bool shouldAutorotateToInterfaceOrientation(platform::ui::InterfaceOrientation orientation) const override;
  void willAnimateRotationToInterfaceOrientation(platform::ui::InterfaceOrientation orientation,
                                                 double duration) override;

  // Use create(); public only for make_shared.
  RevealController(ViewControllerPtr front, ViewControllerPtr left, ViewControllerPtr right);

 private:
  std::weak_ptr<RevealController> weakSelf();
  void linkChild(const ViewControllerPtr& controller);

  // Options storage.
  platform::Value option(const char* key);
  void setOption(const char* key, platform::Value value);

  // Hierarchy.
  void addFrontViewControllerToHierarchy();
  void addLeftViewControllerToHierarchy();
  void addRightViewControllerToHierarchy();
  void removeFrontViewControllerFromHierarchy();
  void removeLeftViewControllerFromHierarchy();
  void removeRightViewControllerFromHierarchy();
  void removeSide(const ViewControllerPtr& controller, const std::shared_ptr<RevealControllerContainerView>& container);

  // Moves and completions.
  void setFrontViewFrame(Rect frame, bool animated, Completion completion);
  void setFrontViewFrameLinearly(Rect frame, bool animated, double duration, unsigned options, Completion completion);
  static void deliver(const Completion& completion, bool finished);
  double frontX() const;

  // Gesture handlers.
  void didRecognizeTapWithGestureRecognizer(platform::ui::GestureRecognizer& recognizer);
  void didRecognizePanWithGestureRecognizer(platform::ui::GestureRecognizer& recognizer);
  void handleGestureBeganWithRecognizer(platform::ui::PanGestureRecognizer& recognizer);
  void handleGestureChangedWithRecognizer(platform::ui::PanGestureRecognizer& recognizer);
  void handleGestureEndedWithRecognizer(platform::ui::PanGestureRecognizer& recognizer);

  ViewControllerPtr front_;
  ViewControllerPtr left_;
  ViewControllerPtr right_;
  std::shared_ptr<platform::ui::PanGestureRecognizer> pan_;
  std::shared_ptr<platform::ui::TapGestureRecognizer> tap_;
  RevealState state_ = kRevealStateFocusLeft;
  std::shared_ptr<RevealControllerContainerView> frontContainer_;
  std::shared_ptr<RevealControllerContainerView> leftContainer_;
  std::shared_ptr<RevealControllerContainerView> rightContainer_;
  platform::Value options_;
  WidthRange leftRange_;
  WidthRange rightRange_;
  Point initialTouch_;
  Point previousTouch_;
};

// The container a controller was put in (through its revealController
// link), or null.
std::shared_ptr<RevealController> revealControllerOf(const platform::ui::ViewController& controller);

}  // namespace reveal
