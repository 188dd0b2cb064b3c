#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "running_server.hpp"

namespace devserver {
namespace {

std::string titleOf(const std::string& html) {
  std::smatch match;
  return std::regex_search(html, match, std::regex("<title>([^<]*)</title>")) ? match[1].str() : "";
}

std::vector<std::string> linksOf(const std::string& html) {
  std::vector<std::string> links;
  std::regex href("href=\"([^\"]*)\"");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), href); it != std::sregex_iterator(); ++it) {
    links.push_back((*it)[1].str());
  }
  return links;
}

bool anyLinkStartsWith(const std::vector<std::string>& links, const std::string& prefix) {
  return std::any_of(links.begin(), links.end(), [&](const std::string& link) { return link.rfind(prefix, 0) == 0; });
}

class PublisherSitesTest : public ::testing::Test {
 protected:
  test::RunningServer running;
};

TEST_F(PublisherSitesTest, MenuConfigurationHasTheShapeTheReaderReads) {
  auto result = running.get("www.vestavind.test", "/iosapp/menuconfig/");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  EXPECT_EQ(result->get_header_value("Content-Type").rfind("application/json", 0), 0u);
  auto config = nlohmann::json::parse(result->body);
  const auto& entries = config.at("Vestavind");
  ASSERT_TRUE(entries.is_array());
  std::set<std::string> navTypes;
  int withUrlAndSubmenu = 0, withEmptySubmenu = 0;
  for (const auto& entry : entries) {
    EXPECT_TRUE(entry.at("title").is_string());
    EXPECT_TRUE(entry.at("url").is_string());
    navTypes.insert(entry.at("navtype").get<std::string>());
    if (!entry.contains("submenu")) continue;
    if (entry["submenu"].empty()) ++withEmptySubmenu;
    else ++withUrlAndSubmenu;
    for (const auto& sub : entry["submenu"]) {
      EXPECT_EQ(sub.at("navtype").get<std::string>(), entry["navtype"].get<std::string>() + "Section");
    }
  }
  for (const char* type : {"kNavBarVestavindSection", "kNavBarStrima", "kNavBarGlimt", "kNavBarJoypunkt",
                           "kNavBarKanal", "kNavBarSpillboks"}) {
    EXPECT_TRUE(navTypes.count(type)) << type;
  }
  EXPECT_GE(withUrlAndSubmenu, 4);
  EXPECT_EQ(withEmptySubmenu, 1);

  // Every URL of the menu opens a page.
  for (const auto& entry : entries) {
    std::string url = entry["url"];
    std::string host = url.substr(7, url.find('/', 7) == std::string::npos ? std::string::npos : url.find('/', 7) - 7);
    std::string path = url.find('/', 7) == std::string::npos ? "/" : url.substr(url.find('/', 7));
    auto page = running.get(host, path);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200) << url;
    EXPECT_NE(titleOf(page->body), "") << url;
  }
  // Only the main desktop host has it.
  EXPECT_EQ(running.get("m.vestavind.test", "/iosapp/menuconfig/")->status, 404);
}

TEST_F(PublisherSitesTest, EachHostServesItsOwnSite) {
  EXPECT_EQ(titleOf(running.get("www.vestavind.test", "/")->body), "Vestavind – Nyheter fra kysten og verden");
  EXPECT_EQ(titleOf(running.get("vv.test", "/")->body), "Vestavind – Nyheter fra kysten og verden");
  EXPECT_EQ(titleOf(running.get("www.glimt.test", "/")->body), "Glimt – Kjendiser, tv og folk");
  EXPECT_EQ(titleOf(running.get("m.joypunkt.test", "/anmeldelser/")->body), "Anmeldelser – Joypunkt");
  EXPECT_NE(running.get("m.vestavind.test", "/")->body.find("class=\"mobile site-vestavind\""), std::string::npos);
  EXPECT_NE(running.get("tablet.vestavind.test", "/")->body.find("class=\"tablet"), std::string::npos);
  auto missing = running.get("www.strima.test", "/finnes-ikke/");
  EXPECT_EQ(missing->status, 404);
  EXPECT_EQ(titleOf(missing->body), "Fant ikke siden – Strima");
  EXPECT_EQ(running.post("www.vestavind.test", "/", "x")->status, 405);
}

TEST_F(PublisherSitesTest, ArticlesLinkWithinTheSiteToSistersTheShortDomainAndAForeignHost) {
  auto front = running.get("www.vestavind.test", "/");
  auto articleLinks = linksOf(front->body);
  auto article = std::find_if(articleLinks.begin(), articleLinks.end(), [](const std::string& link) {
    return std::regex_match(link, std::regex("/[a-z]+/[0-9]+-[a-z0-9-]+"));
  });
  ASSERT_NE(article, articleLinks.end());
  auto page = running.get("www.vestavind.test", *article);
  ASSERT_EQ(page->status, 200);
  EXPECT_NE(titleOf(page->body).find(" – Vestavind"), std::string::npos);
  auto links = linksOf(page->body);
  EXPECT_TRUE(anyLinkStartsWith(links, "/"));
  EXPECT_TRUE(anyLinkStartsWith(links, "http://vv.test/"));
  EXPECT_TRUE(anyLinkStartsWith(links, "http://www.example-foreign.test/"));
  EXPECT_TRUE(anyLinkStartsWith(links, "http://www.glimt.test/") || anyLinkStartsWith(links, "http://www.strima.test/"));
  // The short-domain link leads to the same article on the main site.
  auto shortLink = std::find_if(links.begin(), links.end(),
                                [](const std::string& link) { return link.rfind("http://vv.test/", 0) == 0; });
  EXPECT_EQ(running.get("vv.test", shortLink->substr(std::string("http://vv.test").size()))->status, 200);
  EXPECT_EQ(running.get("www.example-foreign.test", "/omtale/1")->status, 200);
  // An id that does not exist, or one filed in another section, is not an article.
  EXPECT_EQ(running.get("www.vestavind.test", "/sport/1-nothing")->status, 404);
}

TEST_F(PublisherSitesTest, HideHeaderLeavesOutThePagesOwnHeaderAndTheAppHeaderIsVisible) {
  EXPECT_NE(running.get("m.vestavind.test", "/")->body.find("id=\"site-header\""), std::string::npos);
  auto hidden = running.get("m.vestavind.test", "/?hideHeader=1", {{"vestavind_mobile_app", "1.0 <b>"}});
  EXPECT_EQ(hidden->body.find("id=\"site-header\""), std::string::npos);
  EXPECT_NE(hidden->body.find("data-app-header=\"1.0 &lt;b&gt;\""), std::string::npos);
  EXPECT_EQ(running.get("tablet.vestavind.test", "/sport/?a=b&hideHeader=1")->body.find("id=\"site-header\""),
            std::string::npos);
}

TEST_F(PublisherSitesTest, FramesPageIsAFramesetOfTwoLoadablePages) {
  auto frames = running.get("www.vestavind.test", "/rammer/");
  ASSERT_EQ(frames->status, 200);
  EXPECT_NE(frames->body.find("<frameset"), std::string::npos);
  std::regex frameSource("<frame [^>]*src=\"([^\"]+)\"");
  int count = 0;
  for (auto it = std::sregex_iterator(frames->body.begin(), frames->body.end(), frameSource);
       it != std::sregex_iterator(); ++it, ++count) {
    auto frame = running.get("www.vestavind.test", (*it)[1].str());
    EXPECT_EQ(frame->status, 200);
    EXPECT_NE(titleOf(frame->body), "");
  }
  EXPECT_EQ(count, 2);
}

TEST_F(PublisherSitesTest, ArchiveSearchListsMatchingArticlesAndEscapesTheQuery) {
  auto sites = running.admin("/_admin/sites");
  std::string title = sites["sites"][0]["sections"][0]["articles"][0]["title"];
  std::string firstWord = title.substr(0, title.find(' '));
  auto result = running.get("m.vestavind.test", "/tekstarkiv/?q=" + firstWord);
  ASSERT_EQ(result->status, 200);
  EXPECT_NE(result->body.find(title), std::string::npos);
  EXPECT_EQ(result->body.find("0 treff"), std::string::npos);

  auto none = running.get("www.vestavind.test", "/tekstarkiv/?q=%3Cscript%3Ezzqx");
  EXPECT_NE(none->body.find("0 treff for «&lt;script&gt;zzqx»"), std::string::npos);
  EXPECT_EQ(none->body.find("<script>"), std::string::npos);
  EXPECT_NE(running.get("www.vestavind.test", "/tekstarkiv/?q=")->body.find("Skriv inn et søkeord"),
            std::string::npos);
}

TEST_F(PublisherSitesTest, ProviderRecordsHexTokensAndRefusesOthers) {
  auto added = running.get("www.vestavind.test", "/pn/addDevice/ABCDEF0123456789");
  EXPECT_EQ(added->status, 200);
  running.get("www.vestavind.test", "/pn/addDevice/abcdef0123456789");
  auto refused = running.get("www.vestavind.test", "/pn/addDevice/not-a-token");
  EXPECT_EQ(refused->status, 400);
  EXPECT_NE(refused->body.find("hexadecimal"), std::string::npos);
  EXPECT_EQ(running.get("www.vestavind.test", "/pn/addDevice/")->status, 400);

  auto devices = running.admin("/_admin/push")["providerDevices"];
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]["token"], "abcdef0123456789");
  EXPECT_EQ(devices[0]["registrations"], 2);
}

TEST(PublisherSitesContent, IsTheSameForTheSameSeedAndDiffersForAnother) {
  test::RunningServer first(7), second(7), other(8);
  std::string page = first.get("www.vestavind.test", "/")->body;
  EXPECT_EQ(page, second.get("www.vestavind.test", "/")->body);
  EXPECT_NE(page, other.get("www.vestavind.test", "/")->body);
}

}  // namespace
}  // namespace devserver
