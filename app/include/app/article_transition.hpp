#pragma once
// The push animation of article screens.

#include "platform/ui/view.hpp"

namespace app {

inline constexpr double kArticleTransitionDuration = 0.25;

// Adds the move-in-from-right transition (0.25 s, ease-out, no key) to the
// layer of `frontNavigationView`, just before an article screen is pushed
// without animation.
void playArticleTransition(platform::ui::View& frontNavigationView);

}  // namespace app
