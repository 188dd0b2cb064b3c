#include "app/article_transition.hpp"

#include "platform/ui/layer.hpp"

namespace app {

void playArticleTransition(platform::ui::View& frontNavigationView) {
  using namespace platform::ui;
  frontNavigationView.layer().addAnimation(LayerAnimation::transition(
      kTransitionMoveIn, kTransitionFromRight, kArticleTransitionDuration, MediaTimingFunction::EaseOut));
}

}  // namespace app
