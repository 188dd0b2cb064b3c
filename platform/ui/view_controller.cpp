#include "platform/ui/view_controller.hpp"

#include <algorithm>

#include "platform/executor.hpp"
#include "platform/ui/navigation_controller.hpp"
#include "platform/ui/toolkit.hpp"
#include "platform/ui/window.hpp"

namespace platform::ui {

ViewController::ViewController() = default;

ViewController::~ViewController() {
  if (view_ && view_->viewController_ == this) view_->viewController_ = nullptr;
  for (auto& child : children_) child->parent_ = nullptr;
  if (presented_) presented_->presenting_ = nullptr;
}

std::shared_ptr<View> ViewController::view() {
  if (!view_) {
    loadView();
    if (!view_) setView(View::create(Screen::main().bounds()));
    viewDidLoad();
  }
  return view_;
}

void ViewController::setView(std::shared_ptr<View> view) {
  if (view_ && view_->viewController_ == this) view_->viewController_ = nullptr;
  view_ = std::move(view);
  if (view_) view_->viewController_ = this;
}

void ViewController::loadView() { setView(View::create(Screen::main().bounds())); }

void ViewController::setTitle(std::string title) {
  title_ = title;
  navigationItem_.setTitle(std::move(title));
}

void ViewController::addChildViewController(std::shared_ptr<ViewController> child) {
  if (!child || child.get() == this || child->parent_ == this) return;
  if (child->parent_) child->removeFromParentViewController();
  child->willMoveToParentViewController(this);
  child->parent_ = this;
  children_.push_back(std::move(child));
}

void ViewController::removeFromParentViewController() {
  ViewController* parent = parent_;
  if (!parent) return;
  auto& siblings = parent->children_;
  auto it = std::find_if(siblings.begin(), siblings.end(), [&](const auto& c) { return c.get() == this; });
  // Keep this controller alive through its own notification.
  auto self = *it;
  siblings.erase(it);
  parent_ = nullptr;
  didMoveToParentViewController(nullptr);
}

NavigationController* ViewController::navigationController() const {
  for (ViewController* c = parent_; c; c = c->parent_) {
    if (auto* navigation = dynamic_cast<NavigationController*>(c)) return navigation;
  }
  return nullptr;
}

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
  if (appearing) {
    if (appearance_ == AppearanceState::Appearing || appearance_ == AppearanceState::Appeared) return;
    view();
    appearance_ = AppearanceState::Appearing;
    appearingAnimated_ = animated;
    viewWillAppear(animated);
  } else {
    if (appearance_ == AppearanceState::Disappearing || appearance_ == AppearanceState::Disappeared) return;
    appearance_ = AppearanceState::Disappearing;
    appearingAnimated_ = animated;
    viewWillDisappear(animated);
  }
}

void ViewController::endAppearanceTransition() {
  if (appearance_ == AppearanceState::Appearing) {
    appearance_ = AppearanceState::Appeared;
    viewDidAppear(appearingAnimated_);
  } else if (appearance_ == AppearanceState::Disappearing) {
    appearance_ = AppearanceState::Disappeared;
    viewDidDisappear(appearingAnimated_);
  }
}

void ViewController::presentViewController(std::shared_ptr<ViewController> controller, bool animated,
                                           std::function<void()> completion) {
  if (!controller || presented_) return;
  presented_ = std::move(controller);
  presented_->presenting_ = this;
  toolkit().didPresent(*this, *presented_, animated);
  if (completion) mainQueue().post(std::move(completion));
}

void ViewController::dismissViewController(bool animated, std::function<void()> completion) {
  if (!presented_ && presenting_) return presenting_->dismissViewController(animated, std::move(completion));
  if (!presented_) return;
  auto presented = std::move(presented_);
  presented_.reset();
  presented->presenting_ = nullptr;
  toolkit().didDismiss(*this, *presented, animated);
  if (completion) mainQueue().post(std::move(completion));
}

ActivityViewController::ActivityViewController(std::vector<std::string> activityItems)
    : items_(std::move(activityItems)) {}

}  // namespace platform::ui
