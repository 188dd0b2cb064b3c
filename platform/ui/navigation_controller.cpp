#include "platform/ui/navigation_controller.hpp"

#include <algorithm>

#include "platform/ui/toolkit.hpp"
#include "platform/ui/window.hpp"

namespace platform::ui {

// The controller's root view: lays out the bar and the top controller's view.
// It may outlive its controller (others can hold views), so it reaches the
// controller through the view's own link, which the controller clears.
class NavigationController::ContainerView final : public View {
 public:
  using View::View;
  void layoutSubviews() override {
    if (auto* owner = dynamic_cast<NavigationController*>(viewController())) owner->layoutTop();
  }
};

NavigationController::NavigationController(std::shared_ptr<ViewController> root)
    : bar_(NavigationBar::create(Rect(0, 0, Screen::main().bounds().width(), kNavigationBarHeight))) {
  if (root) {
    addChildViewController(root);
    stack_.push_back(root);
    root->didMoveToParentViewController(this);
    bar_->setTopItem(&root->navigationItem());
  }
}

std::shared_ptr<NavigationController> NavigationController::create(std::shared_ptr<ViewController> root) {
  return std::make_shared<NavigationController>(std::move(root));
}

std::shared_ptr<ViewController> NavigationController::topViewController() const {
  return stack_.empty() ? nullptr : stack_.back();
}

std::shared_ptr<ViewController> NavigationController::visibleViewController() const {
  auto top = topViewController();
  if (top && top->presentedViewController()) return top->presentedViewController();
  return top;
}

void NavigationController::loadView() {
  setView(std::make_shared<ContainerView>(Screen::main().bounds()));
  view()->addSubview(bar_);
  showTop(nullptr, false);
}

void NavigationController::layoutTop() {
  if (!isViewLoaded()) return;
  const Rect area = view()->bounds();
  bar_->setFrame(Rect(0, 0, area.width(), kNavigationBarHeight));
  if (auto top = topViewController(); top && top->isViewLoaded()) {
    top->view()->setFrame(Rect(0, kNavigationBarHeight, area.width(), std::max(0.0, area.height() - kNavigationBarHeight)));
  }
}

void NavigationController::showTop(const std::shared_ptr<ViewController>& previousTop, bool animated) {
  auto top = topViewController();
  // Appearance follows the stack only while this stack itself is on screen.
  const bool onScreen =
      isViewLoaded() && appearanceState() == AppearanceState::Appeared && view()->isInVisibleWindow();
  if (animated && onScreen && previousTop != top) {
    // Forward when the screen that was on top stays on the stack (a push).
    const bool forward = !previousTop || std::find(stack_.begin(), stack_.end(), previousTop) != stack_.end();
    toolkit().navigationWillMove(*view(), forward);
  }
  bar_->setTopItem(top ? &top->navigationItem() : nullptr);
  if (!isViewLoaded() || previousTop == top) return;
  if (top) top->view();  // loaded before anything moves, as its controller may look at the stack
  if (onScreen) {
    if (previousTop) previousTop->beginAppearanceTransition(false, animated);
    if (top) top->beginAppearanceTransition(true, animated);
  }
  if (previousTop && previousTop->isViewLoaded() && previousTop->view()->superview() == view().get()) {
    previousTop->view()->removeFromSuperview();
  }
  if (top) {
    view()->insertSubviewBelow(top->view(), bar_.get());
    layoutTop();
  }
  if (onScreen) {
    if (previousTop) previousTop->endAppearanceTransition();
    if (top) top->endAppearanceTransition();
  }
}

bool NavigationController::pushViewController(std::shared_ptr<ViewController> controller, bool animated) {
  if (!controller || std::find(stack_.begin(), stack_.end(), controller) != stack_.end()) return false;
  auto previous = topViewController();
  addChildViewController(controller);
  stack_.push_back(controller);
  controller->didMoveToParentViewController(this);
  lastAnimated_ = animated;
  showTop(previous, animated);
  if (auto d = delegate()) d->didPush(*this, *controller, animated);
  return true;
}

std::shared_ptr<ViewController> NavigationController::popViewController(bool animated) {
  if (stack_.size() < 2) return nullptr;
  auto popped = stack_.back();
  stack_.pop_back();
  lastAnimated_ = animated;
  showTop(popped, animated);
  popped->willMoveToParentViewController(nullptr);
  popped->removeFromParentViewController();
  if (auto d = delegate()) d->didPop(*this, {popped}, animated);
  return popped;
}

std::vector<std::shared_ptr<ViewController>> NavigationController::popToRootViewController(bool animated) {
  if (stack_.size() < 2) return {};
  auto previous = topViewController();
  std::vector<std::shared_ptr<ViewController>> popped(stack_.begin() + 1, stack_.end());
  stack_.resize(1);
  lastAnimated_ = animated;
  showTop(previous, animated);
  for (auto& controller : popped) {
    controller->willMoveToParentViewController(nullptr);
    controller->removeFromParentViewController();
  }
  if (auto d = delegate()) d->didPop(*this, popped, animated);
  return popped;
}

void NavigationController::setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers,
                                              bool animated) {
  std::vector<std::shared_ptr<ViewController>> unique;
  for (auto& c : controllers) {
    if (c && std::find(unique.begin(), unique.end(), c) == unique.end()) unique.push_back(std::move(c));
  }
  auto previous = topViewController();
  auto old = std::move(stack_);
  stack_ = unique;
  for (auto& c : stack_) {
    if (c->parentViewController() != this) {
      addChildViewController(c);
      c->didMoveToParentViewController(this);
    }
  }
  lastAnimated_ = animated;
  showTop(previous, animated);
  for (auto& c : old) {
    if (std::find(stack_.begin(), stack_.end(), c) == stack_.end()) {
      c->willMoveToParentViewController(nullptr);
      c->removeFromParentViewController();
    }
  }
  if (auto d = delegate()) d->didReplaceStack(*this, animated);
}

}  // namespace platform::ui
