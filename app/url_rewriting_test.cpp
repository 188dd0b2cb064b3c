#include "app/url_rewriting.hpp"

#include <gtest/gtest.h>

#include "app/search_url.hpp"

namespace app {
namespace {

TEST(PhoneURLRewriting, OnlyExactRootsAreRewritten) {
  EXPECT_EQ(rewriteURLForDevice("http://www.vestavind.test/sport", DeviceKind::Phone),
            "http://www.vestavind.test/sport");
  EXPECT_EQ(rewriteURLForDevice("http://www.vestavind.test/", DeviceKind::Phone), "http://www.vestavind.test/");
  EXPECT_EQ(rewriteURLForDevice("http://www.joypunkt.test/spill", DeviceKind::Phone),
            "http://www.joypunkt.test/spill");
  EXPECT_EQ(rewriteURLForDevice("http://www.glimt.test", DeviceKind::Phone), "http://www.glimt.test");
  EXPECT_EQ(rewriteURLForDevice("", DeviceKind::Phone), "");
}

TEST(PhoneURLRewriting, GamesRootBecomesMobileGamesWithoutFlag) {
  EXPECT_EQ(rewriteURLForDevice("http://www.joypunkt.test", DeviceKind::Phone), "http://m.joypunkt.test");
}

TEST(TabletURLRewriting, MainSiteGetsTabletHostAndFlag) {
  EXPECT_EQ(rewriteURLForDevice("http://www.vestavind.test", DeviceKind::Tablet),
            "http://tablet.vestavind.test?hideHeader=1");
  EXPECT_EQ(rewriteURLForDevice("http://www.vestavind.test/sport/a1?page=2", DeviceKind::Tablet),
            "http://tablet.vestavind.test/sport/a1?page=2&hideHeader=1");
}

TEST(TabletURLRewriting, EveryOccurrenceOfTheMainRootIsReplaced) {
  EXPECT_EQ(rewriteURLForDevice("http://www.vestavind.test/r?to=http://www.vestavind.test/x", DeviceKind::Tablet),
            "http://tablet.vestavind.test/r?to=http://tablet.vestavind.test/x&hideHeader=1");
}

TEST(TabletURLRewriting, CelebritySiteKeepsItsHostAndGetsTheFlag) {
  EXPECT_EQ(rewriteURLForDevice("http://www.glimt.test/kjendis", DeviceKind::Tablet),
            "http://www.glimt.test/kjendis?hideHeader=1");
  EXPECT_EQ(rewriteURLForDevice("http://www.glimt.test/kjendis?id=4", DeviceKind::Tablet),
            "http://www.glimt.test/kjendis?id=4&hideHeader=1");
}

TEST(TabletURLRewriting, OtherHostsAreUnchanged) {
  EXPECT_EQ(rewriteURLForDevice("http://www.joypunkt.test", DeviceKind::Tablet), "http://www.joypunkt.test");
  EXPECT_EQ(rewriteURLForDevice("http://m.vestavind.test/a", DeviceKind::Tablet), "http://m.vestavind.test/a");
  EXPECT_EQ(rewriteURLForDevice("https://example.test/", DeviceKind::Tablet), "https://example.test/");
}

TEST(ArchiveSearch, PrefixDependsOnDevice) {
  EXPECT_EQ(archiveSearchURL("val", DeviceKind::Tablet), "http://www.vestavind.test/tekstarkiv/?q=val");
  EXPECT_EQ(archiveSearchURL("", DeviceKind::Phone), "http://m.vestavind.test/tekstarkiv/?q=");
}

TEST(ArchiveSearch, EscapesEverythingButUnreservedCharactersSoTheQueryStaysOneValue) {
  EXPECT_EQ(escapeForURL("a&b?c=d/e+f;g,h:i@j!k'l(m)n*o$p[q]"),
            "a%26b%3Fc%3Dd%2Fe%2Bf%3Bg%2Ch%3Ai%40j%21k%27l%28m%29n%2Ao%24p%5Bq%5D");
  EXPECT_EQ(escapeForURL("Az09-._~"), "Az09-._~");
  EXPECT_EQ(escapeForURL("Søk"), "S%C3%B8k");
  EXPECT_EQ(escapeForURL("100% \"sant\" <b>"), "100%25%20%22sant%22%20%3Cb%3E");
  EXPECT_EQ(escapeForURL("C#\n"), "C%23%0A");
}

}  // namespace
}  // namespace app
