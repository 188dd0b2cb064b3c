#pragma once
// What a content screen does with a navigation its web view is about to start.

#include <string_view>

namespace app {

enum class LinkAction {
  Load,                 // let the web view load it in place
  OpenArticleScreen,    // refuse; push a new article screen for the URL
  ReissueWithHeader,    // refuse; load a copy carrying the app header "whatever"
};

// `linkClicked`: the navigation is a tapped link (reloads, forms, programmatic
// loads and history moves are not). On the home screen every tapped link
// opens an article screen; elsewhere a tapped publisher link is loaded again
// with the header, and any other tapped link loads in place.
LinkAction decideLinkAction(bool linkClicked, std::string_view screenNavType, bool publisherURL);

}  // namespace app
