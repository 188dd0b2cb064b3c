#pragma once
// A stack of view controllers under a navigation bar. The top controller's
// view fills the area below the bar.

#include <memory>
#include <vector>

#include "platform/ui/bars.hpp"
#include "platform/ui/view_controller.hpp"

namespace platform::ui {

class NavigationController;

// Stack changes, on the main thread, after the stack changed. Not owned.
class NavigationControllerDelegate {
 public:
  virtual ~NavigationControllerDelegate() = default;
  virtual void didPush(NavigationController& navigation, ViewController& pushed, bool animated) {}
  virtual void didPop(NavigationController& navigation,
                      const std::vector<std::shared_ptr<ViewController>>& popped, bool animated) {}
  // setViewControllers replaced the stack.
  virtual void didReplaceStack(NavigationController& navigation, bool animated) {}
};

class NavigationController : public ViewController {
 public:
  // A stack holding `root` (may be null for an empty stack).
  explicit NavigationController(std::shared_ptr<ViewController> root);
  static std::shared_ptr<NavigationController> create(std::shared_ptr<ViewController> root);

  const std::vector<std::shared_ptr<ViewController>>& viewControllers() const { return stack_; }
  // The top controller, or null when the stack is empty.
  std::shared_ptr<ViewController> topViewController() const;
  // The presented controller of the top one if any, else the top.
  std::shared_ptr<ViewController> visibleViewController() const;

  // Pushes (a controller already on the stack is refused: false).
  bool pushViewController(std::shared_ptr<ViewController> controller, bool animated);
  // Pops the top; never the root. Answers the popped controller or null.
  std::shared_ptr<ViewController> popViewController(bool animated);
  // Pops everything above the root; answers what was popped (top last).
  std::vector<std::shared_ptr<ViewController>> popToRootViewController(bool animated);
  // Replaces the whole stack (duplicates are dropped).
  void setViewControllers(std::vector<std::shared_ptr<ViewController>> controllers, bool animated);
  // Whether the last stack change was animated (for inspection).
  bool lastChangeAnimated() const { return lastAnimated_; }

  NavigationBar& navigationBar() { return *bar_; }
  const std::shared_ptr<NavigationBar>& navigationBarPtr() const { return bar_; }

  std::shared_ptr<NavigationControllerDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<NavigationControllerDelegate> delegate) { delegate_ = std::move(delegate); }

  void loadView() override;

 private:
  class ContainerView;
  void showTop(const std::shared_ptr<ViewController>& previousTop, bool animated);
  void layoutTop();

  std::vector<std::shared_ptr<ViewController>> stack_;
  std::shared_ptr<NavigationBar> bar_;
  std::weak_ptr<NavigationControllerDelegate> delegate_;
  bool lastAnimated_ = false;
};

}  // namespace platform::ui
