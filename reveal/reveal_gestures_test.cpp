#include <gtest/gtest.h>

#include "reveal/reveal_controller.hpp"
#include "support/reveal/reveal_fixture.hpp"

namespace reveal {
namespace {

using platform::ui::Point;
using platform::ui::Rect;
using platform::ui::Window;
using testing::RecordingToolkit;
using testing::Screens;

constexpr double W = 320;
constexpr double H = 568;

class RevealGesturesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ui::Screen::main().setBounds(Rect(0, 0, W, H));
    show(RevealController::createWithRight(screens.front, screens.right));
  }
  void TearDown() override { platform::ui::Screen::main().reset(); }

  void show(std::shared_ptr<RevealController> c) {
    container = std::move(c);
    window = Window::create(Rect(0, 0, W, H));
    window->setRootViewController(container);
    window->makeKeyAndVisible();
  }

  double frontX() const { return container->frontViewContainer()->frame().x(); }

  // A horizontal drag on the front in `steps` equal moves, released with `velocity`.
  void drag(double dx, double velocity, int steps = 10) {
    auto& pan = *container->revealPanGestureRecognizer();
    const Point start{200, 300};
    pan.touchDown(start);
    for (int i = 1; i <= steps; ++i) pan.touchMoved({start.x + dx * i / steps, start.y}, {velocity, 0});
    pan.touchUp({start.x + dx, start.y}, {velocity, 0});
    ASSERT_TRUE(toolkit.settle());
  }

  RecordingToolkit toolkit;
  Screens screens;
  std::shared_ptr<RevealController> container;
  std::shared_ptr<Window> window;
};

TEST_F(RevealGesturesTest, ShortDragSnapsBackAndLongDragOpens) {
  // Overlap with the right strip: 170 > 135 goes back to the centre.
  drag(-100, -50);
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
  EXPECT_EQ(frontX(), 0);

  // Overlap 70 opens the right side.
  drag(-200, -50);
  EXPECT_EQ(container->state(), kRevealStateFocusRight);
  EXPECT_EQ(frontX(), -270);
  EXPECT_EQ(container->initialTouchLocation(), (Point{200, 300}));
  EXPECT_EQ(container->previousTouchLocation(), (Point{0, 300}));
}

TEST_F(RevealGesturesTest, DragFollowsTheFingerWithinTheBandsOnly) {
  auto& pan = *container->revealPanGestureRecognizer();
  pan.touchDown({300, 100});
  pan.touchMoved({250, 100}, {});
  EXPECT_EQ(frontX(), -50);
  EXPECT_EQ(container->state(), kRevealStateFocusFront);  // a drag changes no state
  ASSERT_NE(container->rightViewContainer(), nullptr);
  EXPECT_EQ(container->rightViewContainer()->superview(), container->view().get());
  pan.touchMoved({40, 100}, {});  // to -260
  EXPECT_EQ(frontX(), -260);
  pan.touchMoved({30, 100}, {});  // would land exactly on -270: dropped
  EXPECT_EQ(frontX(), -260);
  pan.touchMoved({0, 100}, {});  // beyond: dropped
  EXPECT_EQ(frontX(), -260);
  pan.touchMoved({350, 100}, {});  // back past the centre: dropped
  EXPECT_EQ(frontX(), -260);
  // Dropped steps still move the reference point.
  pan.touchMoved({360, 100}, {});
  EXPECT_EQ(frontX(), -250);
  pan.touchUp({360, 100}, {});
  ASSERT_TRUE(toolkit.settle());
  EXPECT_EQ(container->state(), kRevealStateFocusRight);
}

TEST_F(RevealGesturesTest, QuickSwipeThresholdIsStrict) {
  drag(-100, -800);  // exactly the threshold: snaps (back to the centre)
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
  drag(-100, -801);  // faster: opens from a position left of the centre
  EXPECT_EQ(container->state(), kRevealStateFocusRight);
  drag(10, 801);  // rightward quick swipe closes
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
  EXPECT_EQ(frontX(), 0);

  // Rightwards from the centre with no left controller: nothing moves or opens.
  const auto started = toolkit.requests.size();
  drag(100, 2000);
  EXPECT_EQ(frontX(), 0);
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
  EXPECT_EQ(toolkit.requests.size(), started);
}

TEST_F(RevealGesturesTest, MostlyVerticalPanNeverStarts) {
  auto& pan = *container->revealPanGestureRecognizer();
  pan.touchDown({200, 200});
  pan.touchMoved({190, 260}, {});
  EXPECT_EQ(pan.state(), platform::ui::GestureRecognizerState::Failed);
  pan.touchMoved({100, 260}, {});
  pan.touchUp({100, 260}, {-2000, 0});
  ASSERT_TRUE(toolkit.settle());
  EXPECT_EQ(frontX(), 0);
  EXPECT_TRUE(toolkit.requests.empty());
  // A diagonal tie begins.
  pan.touchDown({200, 200});
  pan.touchMoved({180, 220}, {});
  EXPECT_EQ(pan.state(), platform::ui::GestureRecognizerState::Changed);
  EXPECT_EQ(frontX(), -20);
  pan.touchCancelled();
  ASSERT_TRUE(toolkit.settle());
  EXPECT_EQ(frontX(), 0);
}

TEST_F(RevealGesturesTest, OverdrawMovesAtHalfSpeedPastTheMinimum) {
  container->setMinimumWidth(200, 300, screens.right.get());
  container->translateViewsBy(-190, 0);
  EXPECT_EQ(frontX(), -190);
  container->translateViewsBy(-21, 0);  // lands in the overdraw band: half of it, floored
  EXPECT_EQ(frontX(), -201);
  container->translateViewsBy(-50, 0);
  EXPECT_EQ(frontX(), -226);
  container->translateViewsBy(-80, 1);  // another animation type never moves the front
  EXPECT_EQ(frontX(), -226);

  container->setAllowsOverdraw(false);
  container->translateViewsBy(-10, 0);  // outside both bands now that the maximum is the minimum
  EXPECT_EQ(frontX(), -226);
  container->translateFrontViewBy(-10, true);
  EXPECT_EQ(frontX(), -226);
}

TEST_F(RevealGesturesTest, ResetTapClosesAnOpenSide) {
  auto& tap = *container->revealResetTapGestureRecognizer();
  EXPECT_FALSE(tap.tap({100, 100}));  // not attached while the front is focused
  container->showViewController(screens.right);
  ASSERT_TRUE(toolkit.settle());
  EXPECT_TRUE(tap.tap({100, 100}));
  ASSERT_TRUE(toolkit.settle());
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
  EXPECT_FALSE(container->frontViewContainer()->hasGestureRecognizer(&tap));

  container->setRecognizesResetTapOnFrontView(false);
  container->showViewController(screens.right);
  ASSERT_TRUE(toolkit.settle());
  EXPECT_FALSE(container->frontViewContainer()->hasGestureRecognizer(&tap));
}

TEST_F(RevealGesturesTest, SnappingWithALeftSide) {
  show(RevealController::create(screens.front, screens.left, screens.right));
  drag(100, 50);  // left strip overlap 170 > 135: back to the centre
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
  drag(200, 50);
  EXPECT_EQ(container->state(), kRevealStateFocusLeft);
  EXPECT_EQ(frontX(), 270);
  EXPECT_EQ(screens.right->parentViewController(), nullptr);
  drag(-30, -900);  // leftward quick swipe from the left side closes it
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
}

TEST_F(RevealGesturesTest, PanningSwitchedOffIgnoresDrags) {
  container->setRecognizesPanningOnFrontView(false);
  auto& pan = *container->revealPanGestureRecognizer();
  pan.touchDown({200, 300});
  pan.touchMoved({50, 300}, {});
  EXPECT_EQ(frontX(), 0);
  EXPECT_EQ(pan.state(), platform::ui::GestureRecognizerState::Possible);
}

}  // namespace
}  // namespace reveal
