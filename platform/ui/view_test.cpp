#include "platform/ui/view.hpp"

#include <gtest/gtest.h>

#include "platform/run_loop.hpp"
#include "platform/ui/headless_toolkit.hpp"
#include "platform/ui/navigation_controller.hpp"
#include "platform/ui/toolkit.hpp"
#include "platform/ui/window.hpp"

namespace platform::ui {
namespace {

TEST(Geometry, IntersectionAndNull) {
  EXPECT_EQ(Rect(0, 0, 100, 50).intersection(Rect(60, 10, 100, 100)), Rect(60, 10, 40, 40));
  EXPECT_TRUE(Rect(0, 0, 10, 10).intersection(Rect(20, 0, 10, 10)).isNull());
  EXPECT_EQ(Rect(0, 0, 10, 10).intersection(Rect(10, 0, 10, 10)).width(), 0);
  EXPECT_TRUE(Rect::null().intersection(Rect(0, 0, 1, 1)).isNull());
  EXPECT_EQ(Rect(10, 10, 100, 100).inset({1, 2, 3, 4}), Rect(12, 11, 94, 96));
}

TEST(ViewTree, InsertBelowMovesAndOrders) {
  auto root = View::create(Rect(0, 0, 100, 100));
  auto a = View::create(), b = View::create(), c = View::create();
  root->addSubview(a);
  root->addSubview(b);
  root->insertSubviewBelow(c, b.get());
  EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<View>>{a, c, b}));
  root->insertSubviewBelow(a, b.get());  // moving a sibling that lies below
  EXPECT_EQ(root->subviews(), (std::vector<std::shared_ptr<View>>{c, a, b}));
  root->addSubview(c);
  EXPECT_EQ(root->subviews().back(), c);
  c->removeFromSuperview();
  EXPECT_EQ(c->superview(), nullptr);
  EXPECT_EQ(root->subviews().size(), 2u);
  a->addSubview(root);  // a cycle is refused
  EXPECT_EQ(root->superview(), nullptr);
}

TEST(ViewTree, AutoresizingFollowsTheSuperview) {
  auto root = View::create(Rect(0, 0, 320, 480));
  auto fill = View::create(Rect(0, 0, 320, 480));
  fill->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
  auto rightEdge = View::create(Rect(50, 0, 270, 480));
  rightEdge->setAutoresizingMask(kAutoresizingFlexibleLeftMargin | kAutoresizingFlexibleHeight);
  auto fixed = View::create(Rect(10, 10, 20, 20));
  root->addSubview(fill);
  root->addSubview(rightEdge);
  root->addSubview(fixed);
  root->setFrame(Rect(0, 0, 480, 320));
  EXPECT_EQ(fill->frame(), Rect(0, 0, 480, 320));
  EXPECT_EQ(rightEdge->frame(), Rect(210, 0, 270, 320));
  EXPECT_EQ(fixed->frame(), Rect(10, 10, 20, 20));
}

TEST(ViewTree, ConvertsPointsAndHitTests) {
  auto root = View::create(Rect(0, 0, 320, 480));
  auto panel = View::create(Rect(100, 50, 200, 200));
  auto button = View::create(Rect(10, 10, 50, 50));
  root->addSubview(panel);
  panel->addSubview(button);
  EXPECT_EQ(button->convertPointToView({0, 0}, root.get()), (Point{110, 60}));
  EXPECT_EQ(root->convertPointToView({120, 70}, button.get()), (Point{10, 10}));
  EXPECT_EQ(root->hitTest({120, 70}), button.get());
  EXPECT_EQ(root->hitTest({150, 200}), panel.get());
  panel->setUserInteractionEnabled(false);
  EXPECT_EQ(root->hitTest({120, 70}), root.get());
}

TEST(ViewAnimation, CompletesOnTheMainQueueAfterTheCall) {
  auto view = View::create(Rect(0, 0, 10, 10));
  bool finished = false;
  View::animate(0.01, 0, kAnimationBeginFromCurrentState, [&] { view->setFrame(Rect(5, 0, 10, 10)); },
                [&](bool f) { finished = f; });
  EXPECT_EQ(view->frame().x(), 5);  // the model holds the final value at once
  EXPECT_FALSE(finished);
  EXPECT_TRUE(RunLoop::main().runUntil([&] { return finished; }, std::chrono::seconds(5)));
}

// Records appearance events of a screen.
class Screen : public ViewController {
 public:
  explicit Screen(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
  void viewDidLoad() override {
    log_.push_back(name_ + " load" + (navigationController() ? " in stack" : ""));
  }
  void viewWillAppear(bool animated) override { log_.push_back(name_ + " will appear" + (animated ? " animated" : "")); }
  void viewDidAppear(bool) override { log_.push_back(name_ + " did appear"); }
  void viewWillDisappear(bool) override { log_.push_back(name_ + " will disappear"); }
  void viewDidDisappear(bool) override { log_.push_back(name_ + " did disappear"); }

 private:
  std::string name_;
  std::vector<std::string>& log_;
};

TEST(Appearance, FollowsTheWindowAndTheStack) {
  std::vector<std::string> log;
  auto home = std::make_shared<Screen>("home", log);
  auto navigation = NavigationController::create(home);
  auto window = Window::create(Rect(0, 0, 320, 480));
  window->setRootViewController(navigation);
  EXPECT_EQ(log, (std::vector<std::string>{"home load in stack"}));
  log.clear();

  window->makeKeyAndVisible();
  EXPECT_TRUE(window->isKeyWindow());
  EXPECT_EQ(log, (std::vector<std::string>{"home will appear", "home did appear"}));
  EXPECT_EQ(home->view()->frame(), Rect(0, kNavigationBarHeight, 320, 480 - kNavigationBarHeight));
  log.clear();

  auto article = std::make_shared<Screen>("article", log);
  EXPECT_TRUE(navigation->pushViewController(article, true));
  EXPECT_FALSE(navigation->pushViewController(article, true));
  EXPECT_EQ(log, (std::vector<std::string>{"article load in stack", "home will disappear", "article will appear animated",
                                           "home did disappear", "article did appear"}));
  EXPECT_EQ(navigation->navigationBar().topItem(), &article->navigationItem());
  EXPECT_EQ(article->navigationController(), navigation.get());
  log.clear();

  EXPECT_EQ(navigation->popViewController(true), article);
  EXPECT_EQ(article->parentViewController(), nullptr);
  EXPECT_EQ(navigation->popViewController(true), nullptr);  // never the root
  EXPECT_EQ(log, (std::vector<std::string>{"article will disappear", "home will appear animated",
                                           "article did disappear", "home did appear"}));
}

TEST(NavigationStack, PopToRootAndReplace) {
  std::vector<std::string> log;
  auto root = std::make_shared<Screen>("root", log);
  auto navigation = NavigationController::create(root);
  auto a = std::make_shared<Screen>("a", log), b = std::make_shared<Screen>("b", log);
  navigation->pushViewController(a, false);
  navigation->pushViewController(b, false);
  auto popped = navigation->popToRootViewController(true);
  EXPECT_EQ(popped, (std::vector<std::shared_ptr<ViewController>>{a, b}));
  EXPECT_TRUE(navigation->lastChangeAnimated());
  navigation->setViewControllers({a, b, a, nullptr}, false);
  EXPECT_EQ(navigation->viewControllers(), (std::vector<std::shared_ptr<ViewController>>{a, b}));
  EXPECT_EQ(root->parentViewController(), nullptr);
  EXPECT_EQ(b->parentViewController(), navigation.get());
  // The stack was never on screen: no appearance events.
  EXPECT_TRUE(std::none_of(log.begin(), log.end(), [](const std::string& e) { return e.find("appear") != std::string::npos; }));
}

// The headless toolkit, noting which way animated stack changes go.
class MoveRecorder final : public Toolkit {
 public:
  std::shared_ptr<WebView> makeWebView(Rect frame) override { return HeadlessToolkit::shared().makeWebView(frame); }
  void animate(const AnimationRequest& request, std::function<void()> animations,
               std::function<void(bool)> completion) override {
    HeadlessToolkit::shared().animate(request, std::move(animations), std::move(completion));
  }
  void navigationWillMove(View&, bool forward) override { moves.push_back(forward ? "forward" : "back"); }
  std::vector<std::string> moves;
};

TEST(NavigationStack, TellsTheToolkitWhichWayAnAnimatedChangeOnScreenGoes) {
  MoveRecorder recorder;
  setToolkit(&recorder);
  std::vector<std::string> log;
  auto root = std::make_shared<Screen>("root", log);
  auto a = std::make_shared<Screen>("a", log), b = std::make_shared<Screen>("b", log);
  auto navigation = NavigationController::create(root);
  navigation->pushViewController(a, true);  // not on screen yet
  auto window = Window::create(Rect(0, 0, 320, 480));
  window->setRootViewController(navigation);
  window->makeKeyAndVisible();

  navigation->pushViewController(b, true);
  navigation->popViewController(false);
  navigation->popViewController(true);
  navigation->setViewControllers({root, b}, true);
  navigation->setViewControllers({a}, true);
  navigation->setViewControllers({a}, true);  // no change of top
  EXPECT_EQ(recorder.moves, (std::vector<std::string>{"forward", "back", "forward", "back"}));
  setToolkit(nullptr);
}

}  // namespace
}  // namespace platform::ui
