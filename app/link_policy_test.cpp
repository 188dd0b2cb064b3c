#include "app/link_policy.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "app/app_header.hpp"
#include "app/site_constants.hpp"

namespace app {
namespace {

std::vector<std::string> publisherDomains() { return {kPublisherDomains.begin(), kPublisherDomains.end()}; }

TEST(AppHeader, NeededForEveryPublisherHostIncludingShortAndMobileOnes) {
  const auto domains = publisherDomains();
  for (const char* url : {"http://www.vestavind.test/a", "http://m.vv.test/x", "http://vv.test", "http://www.glimt.test",
                          "http://spill.spillboks.test/", "http://tv.strima.test/live", "http://m.joypunkt.test"}) {
    EXPECT_TRUE(headerIsNeeded(url, domains)) << url;
  }
}

TEST(AppHeader, NotNeededForForeignHostsOrAnEmptyList) {
  EXPECT_FALSE(headerIsNeeded("http://example.test/vestavind", publisherDomains()));
  EXPECT_FALSE(headerIsNeeded("http://www.VESTAVIND.test/", publisherDomains()));
  EXPECT_FALSE(headerIsNeeded("http://www.vestavind.test/", {}));
}

TEST(LinkPolicy, OtherScreensReissuePublisherLinksAndLoadForeignOnes) {
  for (const char* navType : {"kNavBarArticle", "kNavBarVestavindSection", "", "kNavBarUnknown"}) {
    EXPECT_EQ(decideLinkAction(true, navType, true), LinkAction::ReissueWithHeader) << navType;
    EXPECT_EQ(decideLinkAction(true, navType, false), LinkAction::Load) << navType;
  }
}

TEST(LinkPolicy, NavigationsThatAreNotTapsAlwaysLoad) {
  for (const char* navType : {"kNavBarVestavind", "kNavBarArticle"}) {
    EXPECT_EQ(decideLinkAction(false, navType, true), LinkAction::Load);
    EXPECT_EQ(decideLinkAction(false, navType, false), LinkAction::Load);
  }
}

}  // namespace
}  // namespace app
