#include "reveal/reveal_controller.hpp"

#include <gtest/gtest.h>

#include "support/reveal/reveal_fixture.hpp"

namespace reveal {
namespace {

using platform::Value;
using platform::ui::Rect;
using platform::ui::Window;
using testing::RecordingToolkit;
using testing::Screens;

constexpr double W = 320;
constexpr double H = 568;

class RevealControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::ui::Screen::main().setBounds(Rect(0, 0, W, H)); }
  void TearDown() override { platform::ui::Screen::main().reset(); }

  // This system's set-up: front and right, no options, shown in a window.
  std::shared_ptr<RevealController> showInWindow(std::shared_ptr<RevealController> container) {
    window = Window::create(Rect(0, 0, W, H));
    window->setRootViewController(container);
    window->makeKeyAndVisible();
    return container;
  }

  RecordingToolkit toolkit;
  Screens screens;
  std::shared_ptr<Window> window;
};

TEST_F(RevealControllerTest, FrontAndRightOnlyOpensAndClosesTheSidebar) {
  auto container = showInWindow(RevealController::createWithRight(screens.front, screens.right));
  EXPECT_EQ(container->type(), kRevealTypeRight);
  EXPECT_TRUE(container->hasRightViewController());
  EXPECT_FALSE(container->hasLeftViewController());
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
  EXPECT_EQ(container->frontViewContainer()->frame(), Rect(0, 0, W, H));
  EXPECT_EQ(container->rightViewContainer(), nullptr);
  EXPECT_EQ(revealControllerOf(*screens.front), container);
  EXPECT_EQ(revealControllerOf(*screens.right), container);
  EXPECT_EQ(screens.home->navigationController()->revealController(), container);

  container->showViewController(screens.right);
  // The state names the old position until the move completes.
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
  ASSERT_TRUE(toolkit.settle());
  EXPECT_EQ(container->state(), kRevealStateFocusRight);
  EXPECT_EQ(container->frontViewContainer()->frame(), Rect(-270, 0, W, H));
  ASSERT_NE(container->rightViewContainer(), nullptr);
  EXPECT_EQ(container->rightViewContainer()->frame(), Rect(W - 270, 0, 270, H));
  EXPECT_EQ(container->rightViewContainer()->superview(), container->view().get());
  EXPECT_EQ(container->focusedController(), screens.right);
  EXPECT_EQ(screens.menu->appearanceState(), platform::ui::AppearanceState::Appeared);
  // Only the reset tap reaches the front now.
  EXPECT_FALSE(testing::frontTakesTouches(*container));
  EXPECT_TRUE(container->frontViewContainer()->hasGestureRecognizer(container->revealResetTapGestureRecognizer().get()));

  container->showViewController(screens.front);
  ASSERT_TRUE(toolkit.settle());
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
  EXPECT_EQ(container->frontViewContainer()->frame().x(), 0);
  EXPECT_EQ(container->rightViewContainer()->superview(), nullptr);
  EXPECT_EQ(screens.right->parentViewController(), nullptr);
  EXPECT_TRUE(testing::frontTakesTouches(*container));
  EXPECT_FALSE(container->frontViewContainer()->hasGestureRecognizer(container->revealResetTapGestureRecognizer().get()));

  const auto started = toolkit.requests.size();
  container->showViewController(nullptr);
  EXPECT_EQ(toolkit.requests.size(), started);
}

TEST_F(RevealControllerTest, EveryMoveUsesTheDefaultDurationAndOptionBits) {
  auto container = showInWindow(RevealController::createWithRight(screens.front, screens.right));
  bool finished = false;
  container->showRightViewControllerAnimated(false, [&](bool f) { finished = f; });
  ASSERT_TRUE(toolkit.settle());
  EXPECT_TRUE(finished);
  ASSERT_EQ(toolkit.requests.size(), 1u);
  EXPECT_DOUBLE_EQ(toolkit.requests[0].duration, 0.185);
  EXPECT_EQ(toolkit.requests[0].delay, 0);
  EXPECT_EQ(toolkit.requests[0].options, 7u);
}

TEST_F(RevealControllerTest, ShowingOneSideWhileTheOtherIsVisibleCentresFirst) {
  auto container = showInWindow(RevealController::create(screens.front, screens.left, screens.right));
  EXPECT_EQ(container->type(), kRevealTypeBoth);
  container->showLeftViewControllerAnimated(true);
  ASSERT_TRUE(toolkit.settle());
  EXPECT_EQ(container->frontViewContainer()->frame().x(), 270);
  EXPECT_EQ(container->leftViewContainer()->frame(), Rect(0, 0, 270, H));
  EXPECT_EQ(container->focusedController(), screens.left);

  bool done = false;
  container->showRightViewControllerAnimated(true, [&](bool) { done = true; });
  ASSERT_TRUE(toolkit.settle());
  EXPECT_TRUE(done);
  // One move to the centre, then one to the right's open position.
  ASSERT_EQ(toolkit.requests.size(), 3u);
  EXPECT_EQ(container->state(), kRevealStateFocusRight);
  EXPECT_EQ(container->frontViewContainer()->frame().x(), -270);
  EXPECT_EQ(screens.left->parentViewController(), nullptr);
  EXPECT_EQ(screens.right->parentViewController(), container.get());
}

TEST_F(RevealControllerTest, PresentationModeUsesTheMaximumWidthAndHasNoFocus) {
  auto container = showInWindow(RevealController::createWithRight(screens.front, screens.right));
  bool called = false;
  container->enterPresentationModeAnimated(true, [&](bool) { called = true; });
  ASSERT_TRUE(toolkit.settle());
  EXPECT_FALSE(called);
  EXPECT_TRUE(toolkit.requests.empty());

  container->setMinimumWidth(200, 300, screens.right.get());
  container->showViewController(screens.right);
  ASSERT_TRUE(toolkit.settle());
  EXPECT_EQ(container->frontViewContainer()->frame().x(), -200);

  container->enterPresentationModeAnimated(true, [&](bool) { called = true; });
  ASSERT_TRUE(toolkit.settle());
  EXPECT_TRUE(called);
  EXPECT_EQ(container->state(), kRevealStatePresentRight);
  EXPECT_TRUE(container->isPresentationModeActive());
  EXPECT_EQ(container->focusedController(), nullptr);
  EXPECT_EQ(container->frontViewContainer()->frame().x(), -300);

  container->resignPresentationModeEntirely(false, true);
  ASSERT_TRUE(toolkit.settle());
  EXPECT_EQ(container->state(), kRevealStateFocusRight);
  EXPECT_EQ(container->frontViewContainer()->frame().x(), -200);

  container->enterPresentationModeAnimated(true);
  ASSERT_TRUE(toolkit.settle());
  container->resignPresentationModeEntirely(true, true);
  ASSERT_TRUE(toolkit.settle());
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
  EXPECT_EQ(container->frontViewContainer()->frame().x(), 0);
}

TEST_F(RevealControllerTest, AnimationTypeOtherThanDefaultFreezesTheFront) {
  auto container = showInWindow(RevealController::createWithRight(
      screens.front, screens.right, Value::dictionary({{kRevealControllerAnimationTypeKey, 1}})));
  bool called = false;
  container->showViewController(screens.right, true, [&](bool) { called = true; });
  toolkit.clock.advance(std::chrono::milliseconds(250));
  platform::RunLoop::main().drain();
  EXPECT_FALSE(called);
  EXPECT_TRUE(toolkit.requests.empty());
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
  EXPECT_EQ(container->frontViewContainer()->frame().x(), 0);
  // The right side then covers the front's whole bounds.
  EXPECT_EQ(container->rightViewFrame(), Rect(0, 0, W, H));
}

TEST_F(RevealControllerTest, WidthsAreResetWhenTheViewLoads) {
  auto container = RevealController::createWithRight(screens.front, screens.right);
  EXPECT_EQ(container->state(), kRevealStateFocusLeft);
  container->setMinimumWidth(100, 150, screens.right.get());
  EXPECT_EQ(container->rightViewWidthRange(), (WidthRange{100, 150}));
  showInWindow(container);
  EXPECT_EQ(container->rightViewWidthRange(), (WidthRange{270, 270}));
  EXPECT_EQ(container->leftViewWidthRange(), (WidthRange{270, 270}));

  container->setMinimumWidth(100.9, 150.2, screens.right.get());
  EXPECT_EQ(container->rightViewWidthRange(), (WidthRange{100, 150}));
  container->setMinimumWidth(10, 20, screens.home.get());
  container->setMinimumWidth(-5, 20, nullptr);
  EXPECT_EQ(container->rightViewWidthRange(), (WidthRange{100, 150}));
  EXPECT_EQ(container->leftViewWidthRange(), (WidthRange{270, 270}));
}

TEST_F(RevealControllerTest, OptionsDefaultThroughTheirSetters) {
  Value given = Value::dictionary({{kRevealControllerAllowsOverdrawKey, false}});
  auto container = showInWindow(RevealController::createWithRight(screens.front, screens.right, given));
  given.asDictionary().set(kRevealControllerAllowsOverdrawKey, true);
  EXPECT_FALSE(container->allowsOverdraw());

  EXPECT_FALSE(container->options().asDictionary().contains(kRevealControllerQuickSwipeToggleVelocityKey));
  EXPECT_DOUBLE_EQ(container->animationDuration(), 0.185);
  EXPECT_EQ(container->animationCurve(), 3);
  EXPECT_EQ(container->animationType(), 0);
  EXPECT_EQ(container->quickSwipeVelocity(), 800);
  EXPECT_TRUE(container->disablesFrontViewInteraction());
  EXPECT_TRUE(container->recognizesPanningOnFrontView());
  EXPECT_TRUE(container->recognizesResetTapOnFrontView());
  EXPECT_EQ(container->options()[kRevealControllerQuickSwipeToggleVelocityKey].doubleValue(), 800);

  auto* pan = container->revealPanGestureRecognizer().get();
  EXPECT_TRUE(container->frontViewContainer()->hasGestureRecognizer(pan));
  container->setRecognizesPanningOnFrontView(false);
  EXPECT_FALSE(container->frontViewContainer()->hasGestureRecognizer(pan));
  container->setRecognizesPanningOnFrontView(true);
  EXPECT_TRUE(container->frontViewContainer()->hasGestureRecognizer(pan));

  // Overdraw refused: the maximum respecting it is the minimum.
  container->setMinimumWidth(200, 300, screens.right.get());
  EXPECT_EQ(container->rightViewMaxWidthRespectingOverdraw(true), 200);
  EXPECT_EQ(container->rightViewMaxWidthRespectingOverdraw(false), 300);
}

TEST_F(RevealControllerTest, ReplacingControllersKeepsTheHierarchyAndLinks) {
  auto container = showInWindow(RevealController::createWithRight(screens.front, screens.right));
  container->showViewController(screens.right);
  ASSERT_TRUE(toolkit.settle());

  auto otherMenu = platform::ui::NavigationController::create(std::make_shared<platform::ui::ViewController>());
  container->setRightViewController(otherMenu);
  EXPECT_EQ(revealControllerOf(*otherMenu), container);
  EXPECT_EQ(screens.right->parentViewController(), nullptr);
  EXPECT_EQ(otherMenu->parentViewController(), container.get());
  EXPECT_EQ(container->rightViewContainer()->viewController(), otherMenu);

  auto otherFront = platform::ui::NavigationController::create(std::make_shared<platform::ui::ViewController>());
  bool done = false;
  container->setFrontViewController(otherFront, true, [&](bool) { done = true; });
  ASSERT_TRUE(toolkit.settle());
  EXPECT_TRUE(done);
  EXPECT_EQ(container->state(), kRevealStateFocusFront);
  EXPECT_EQ(container->frontViewContainer()->viewController(), otherFront);
  EXPECT_EQ(screens.front->parentViewController(), nullptr);
  EXPECT_TRUE(container->frontViewContainer()->hasGestureRecognizer(container->revealPanGestureRecognizer().get()));

  bool immediate = false;
  container->setFrontViewController(screens.front, true, [&](bool f) { immediate = f; });
  EXPECT_TRUE(immediate);
}

TEST_F(RevealControllerTest, ContainerViewsCastAndRefreshTheShadow) {
  auto container = showInWindow(RevealController::createWithRight(screens.front, screens.right));
  const auto& front = *container->frontViewContainer();
  EXPECT_TRUE(front.hasShadow());
  EXPECT_EQ(front.layer().shadowOpacity(), 0.5);
  EXPECT_EQ(front.layer().shadowRadius(), 2.5);
  EXPECT_EQ(front.layer().shadowOffset(), (platform::ui::Size{0, 0}));
  EXPECT_FALSE(front.layer().masksToBounds());
  ASSERT_TRUE(front.layer().shadowPath().has_value());

  window->setFrame(Rect(0, 0, H, W));
  container->willAnimateRotationToInterfaceOrientation(platform::ui::InterfaceOrientation::LandscapeLeft, 0.3);
  EXPECT_EQ(*front.layer().shadowPath(), Rect(0, 0, H, W));
  auto animation = front.layer().animationForKey("transition");
  ASSERT_TRUE(animation.has_value());
  EXPECT_EQ(animation->keyPath, "shadowPath");
  EXPECT_EQ(animation->duration, 0.3);
  EXPECT_EQ(animation->fromPath, Rect(0, 0, W, H));
}

class Orientations : public platform::ui::ViewController {
 public:
  Orientations(bool rotates, unsigned mask) : rotates_(rotates), mask_(mask) {}
  bool shouldAutorotate() const override { return rotates_; }
  unsigned supportedInterfaceOrientations() const override { return mask_; }

 private:
  bool rotates_;
  unsigned mask_;
};

TEST_F(RevealControllerTest, RotationAsksThePresentControllers) {
  auto front = std::make_shared<Orientations>(true, 0b11110);
  auto right = std::make_shared<Orientations>(true, 0b00110);
  auto refusing = std::make_shared<Orientations>(false, 0b00010);
  EXPECT_TRUE(RevealController::createWithRight(front, right)->shouldAutorotate());
  EXPECT_EQ(RevealController::createWithRight(front, right)->supportedInterfaceOrientations(), 0b00110u);
  EXPECT_EQ(RevealController::createWithRight(front, nullptr)->supportedInterfaceOrientations(), 0b11110u);
  EXPECT_FALSE(RevealController::createWithLeft(front, refusing)->shouldAutorotate());
  EXPECT_EQ(RevealController::create(front, refusing, right)->supportedInterfaceOrientations(), 0b00010u);
  // Asked of all three; an absent one refuses.
  const auto portrait = platform::ui::InterfaceOrientation::Portrait;
  EXPECT_FALSE(RevealController::createWithRight(front, right)->shouldAutorotateToInterfaceOrientation(portrait));
  EXPECT_TRUE(RevealController::create(front, refusing, right)->shouldAutorotateToInterfaceOrientation(portrait));
}

}  // namespace
}  // namespace reveal
