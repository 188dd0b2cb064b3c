#pragma once
// View controllers: own a root view (loaded on first use), take part in a
// parent/child tree, hear appearance events, present other controllers, and
// carry the link to the sliding-panel container that holds them.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/bars.hpp"
#include "platform/ui/view.hpp"

namespace platform::ui {

class NavigationController;

enum class InterfaceOrientation { Portrait = 1, PortraitUpsideDown = 2, LandscapeRight = 3, LandscapeLeft = 4 };
enum InterfaceOrientationMask : unsigned {
  kOrientationMaskPortrait = 1 << 1,
  kOrientationMaskPortraitUpsideDown = 1 << 2,
  kOrientationMaskLandscapeRight = 1 << 3,
  kOrientationMaskLandscapeLeft = 1 << 4,
  kOrientationMaskAllButUpsideDown = (1 << 1) | (1 << 3) | (1 << 4),
  kOrientationMaskAll = (1 << 1) | (1 << 2) | (1 << 3) | (1 << 4),
};

enum class AppearanceState { Disappeared, Appearing, Appeared, Disappearing };

class ViewController : public std::enable_shared_from_this<ViewController> {
 public:
  ViewController();
  virtual ~ViewController();
  ViewController(const ViewController&) = delete;
  ViewController& operator=(const ViewController&) = delete;

  // The root view, loaded on first use: loadView, then viewDidLoad.
  std::shared_ptr<View> view();
  bool isViewLoaded() const { return view_ != nullptr; }
  // Installs the root view (from loadView, or to replace it).
  void setView(std::shared_ptr<View> view);

  const std::string& title() const { return title_; }
  // Also the navigation item's title.
  void setTitle(std::string title);
  NavigationItem& navigationItem() { return navigationItem_; }

  // Parent and children. The parent owns its children.
  ViewController* parentViewController() const { return parent_; }
  const std::vector<std::shared_ptr<ViewController>>& childViewControllers() const { return children_; }
  // Makes `child` a child (calls its willMoveToParentViewController(this)).
  void addChildViewController(std::shared_ptr<ViewController> child);
  // Leaves the parent (calls didMoveToParentViewController(nullptr)).
  void removeFromParentViewController();
  virtual void willMoveToParentViewController(ViewController* parent) {}
  virtual void didMoveToParentViewController(ViewController* parent) {}

  // The nearest navigation controller among this controller and its parents, or null.
  NavigationController* navigationController() const;

  // The sliding-panel container holding this controller, or null. Not
  // owning; set by the container on its children.
  std::shared_ptr<ViewController> revealController() const { return revealController_.lock(); }
  void setRevealController(std::weak_ptr<ViewController> container) { revealController_ = std::move(container); }

  // Life events, on the main thread. Overrides call the base first.
  virtual void loadView();
  virtual void viewDidLoad() {}
  virtual void viewWillAppear(bool animated) {}
  virtual void viewDidAppear(bool animated) {}
  virtual void viewWillDisappear(bool animated) {}
  virtual void viewDidDisappear(bool animated) {}
  virtual void didReceiveMemoryWarning() {}

  // Appearance bookkeeping. The model sends the events when the root view
  // enters or leaves a shown window; containers may send them earlier with
  // the animated flag. Repeated begins in the same direction are ignored.
  AppearanceState appearanceState() const { return appearance_; }
  void beginAppearanceTransition(bool appearing, bool animated);
  void endAppearanceTransition();

  // Presents `controller` modally over this one (the share sheet); the
  // toolkit shows it. Completion runs on the main queue.
  void presentViewController(std::shared_ptr<ViewController> controller, bool animated,
                             std::function<void()> completion = {});
  void dismissViewController(bool animated, std::function<void()> completion = {});
  std::shared_ptr<ViewController> presentedViewController() const { return presented_; }
  // The controller that presented this one, or null. Not owning.
  ViewController* presentingViewController() const { return presenting_; }

  // Rotation answers; the base allows every orientation but upside down.
  virtual bool shouldAutorotate() const { return true; }
  virtual unsigned supportedInterfaceOrientations() const { return kOrientationMaskAllButUpsideDown; }
  virtual bool shouldAutorotateToInterfaceOrientation(InterfaceOrientation orientation) const {
    return orientation != InterfaceOrientation::PortraitUpsideDown;
  }
  virtual void willAnimateRotationToInterfaceOrientation(InterfaceOrientation orientation, double duration) {}

  // This controller as a shared pointer of a derived type (for delegates).
  template <class T>
  std::shared_ptr<T> sharedAs() {
    return std::static_pointer_cast<T>(shared_from_this());
  }

 private:
  std::shared_ptr<View> view_;
  std::string title_;
  NavigationItem navigationItem_;
  ViewController* parent_ = nullptr;
  std::vector<std::shared_ptr<ViewController>> children_;
  std::weak_ptr<ViewController> revealController_;
  AppearanceState appearance_ = AppearanceState::Disappeared;
  bool appearingAnimated_ = false;
  std::shared_ptr<ViewController> presented_;
  ViewController* presenting_ = nullptr;
};

// The share sheet: offers the items (texts or URLs) to the platform's share targets.
class ActivityViewController : public ViewController {
 public:
  explicit ActivityViewController(std::vector<std::string> activityItems);
  const std::vector<std::string>& activityItems() const { return items_; }

 private:
  std::vector<std::string> items_;
};

}  // namespace platform::ui
