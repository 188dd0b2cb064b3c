#pragma once
// How the shell's screens reach the container that holds them: through their
// navigation controller's link.

#include <memory>

#include "platform/ui/navigation_controller.hpp"
#include "reveal/reveal_controller.hpp"

namespace app {

// The container of the navigation stack that holds `screen`, or null.
inline std::shared_ptr<reveal::RevealController> containerOf(const platform::ui::ViewController& screen) {
  platform::ui::NavigationController* navigation = screen.navigationController();
  if (!navigation) return nullptr;
  return std::dynamic_pointer_cast<reveal::RevealController>(navigation->revealController());
}

// The container's front controller as the navigation stack it is, or null.
inline std::shared_ptr<platform::ui::NavigationController> frontNavigationOf(const reveal::RevealController& container) {
  return std::dynamic_pointer_cast<platform::ui::NavigationController>(container.frontViewController());
}

}  // namespace app
