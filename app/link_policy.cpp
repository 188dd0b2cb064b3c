#include "app/link_policy.hpp"

#include "app/nav_type.hpp"

namespace app {

LinkAction decideLinkAction(bool linkClicked, std::string_view screenNavType, bool publisherURL) {
  if (!linkClicked) return LinkAction::Load;
  if (screenNavType == kNavBarVestavind) return LinkAction::OpenArticleScreen;
  return publisherURL ? LinkAction::ReissueWithHeader : LinkAction::Load;
}

}  // namespace app
