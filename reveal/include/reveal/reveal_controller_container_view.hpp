#pragma once
// The view that hosts one child controller's view inside the sliding-panel
// container; the front's casts a shadow onto the side beneath it.

#include <memory>

#include "platform/ui/view.hpp"
#include "platform/ui/view_controller.hpp"

namespace reveal {

class RevealControllerContainerView : public platform::ui::View {
 public:
  // A container with the frame of the controller's view bounds, hosting that
  // view (loading it), with the shadow set up when `shadow` is true.
  RevealControllerContainerView(const std::shared_ptr<platform::ui::ViewController>& controller, bool shadow);
  static std::shared_ptr<RevealControllerContainerView> create(
      const std::shared_ptr<platform::ui::ViewController>& controller, bool shadow = false);

  bool hasShadow() const { return shadow_; }

  // The hosted controller (not owned), or null.
  std::shared_ptr<platform::ui::ViewController> viewController() const { return controller_.lock(); }
  // Hosts another controller: the old one's view leaves, the new one's view
  // is added at its own bounds. No effect for the same controller.
  void setViewController(const std::shared_ptr<platform::ui::ViewController>& controller);

  // The hosted view fills the container.
  void layoutSubviews() override;

  // Sets the shadow path to the current bounds; when there was a path, the
  // change is animated from it over `seconds` under the key "transition".
  void refreshShadowWithAnimationDuration(double seconds);

  void enableUserInteractionForContainedView();
  void disableUserInteractionForContainedView();

 private:
  void setupShadow();

  bool shadow_ = false;
  std::weak_ptr<platform::ui::ViewController> controller_;
};

}  // namespace reveal
