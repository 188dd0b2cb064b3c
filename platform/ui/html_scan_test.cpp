#include "html_scan.hpp"

#include <gtest/gtest.h>

#include "url_resolve.hpp"

namespace platform::ui::detail {
namespace {

TEST(HtmlScan, ReadsTitleLinksAndFramesTolerantly) {
  const auto outline = scanPage(
      "<HTML><head><title>\n  S&oslash;k &#8211; &#x41;rkiv &bogus; </title><title>second</title></head>"
      "<a name=top><a href = \"/a?x=1&amp;y=2\"><A Href=b.html></a><a href=''>"
      "<iframe SRC='/ad'></iframe><style>a{background:url('<a href=/no>')}</style><frame src=\"f\">"
      "<a href=\"unterminated");
  EXPECT_EQ(outline.title, "S\xC3\xB8k \xE2\x80\x93 Arkiv &bogus;");
  EXPECT_EQ(outline.links, (std::vector<std::string>{"/a?x=1&y=2", "b.html", "unterminated"}));
  EXPECT_EQ(outline.frames, (std::vector<std::string>{"/ad", "f"}));
}

TEST(HtmlScan, SurvivesBrokenInput) {
  EXPECT_EQ(scanPage("").title, "");
  EXPECT_EQ(scanPage("<").links.size(), 0u);
  EXPECT_EQ(scanPage("<title>open").title, "open");
  EXPECT_EQ(scanPage("<!-- never closed <a href=x>").links.size(), 0u);
  EXPECT_EQ(decodeEntities("&#0;&#xFFFFFFFFF;&amp"), "\xEF\xBF\xBD&#xFFFFFFFFF;&amp");
}

TEST(UrlResolve, JoinsRelativeReferences) {
  const std::string base = "http://www.vestavind.test/nyheter/sak/index.html?q=1";
  EXPECT_EQ(resolveURL(base, "2.html"), "http://www.vestavind.test/nyheter/sak/2.html");
  EXPECT_EQ(resolveURL(base, "../sport/"), "http://www.vestavind.test/nyheter/sport/");
  EXPECT_EQ(resolveURL(base, "/a/./b/../c"), "http://www.vestavind.test/a/c");
  EXPECT_EQ(resolveURL(base, "//m.vestavind.test/x"), "http://m.vestavind.test/x");
  EXPECT_EQ(resolveURL(base, "?p=2"), "http://www.vestavind.test/nyheter/sak/index.html?p=2");
  EXPECT_EQ(resolveURL(base, "#top"), "http://www.vestavind.test/nyheter/sak/index.html?q=1#top");
  EXPECT_EQ(resolveURL(base, "https://other.example/"), "https://other.example/");
  EXPECT_EQ(resolveURL(base, "mailto:a@b"), "mailto:a@b");
  EXPECT_EQ(resolveURL("http://h", "x"), "http://h/x");
  EXPECT_EQ(resolveURL("not a url", "x"), "x");
}

}  // namespace
}  // namespace platform::ui::detail
