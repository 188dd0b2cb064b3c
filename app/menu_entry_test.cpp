#include "app/menu_entry.hpp"

#include <gtest/gtest.h>

#include "platform/json.hpp"

namespace app {
namespace {

platform::Value parse(std::string_view text) { return platform::json::parse(text).value(); }

TEST(MenuConfiguration, ReadsEntriesWithNestedSubmenus) {
  const Menu menu = rootMenuFromConfiguration(parse(R"({"Other": [1],
    "Vestavind": [
      {"title": "Sport", "url": "http://www.vestavind.test/sport", "navtype": "kNavBarVestavindSection"},
      {"title": "Strima", "navtype": "kNavBarStrima", "submenu": [{"title": "Direkte", "url": ""}]}
    ]})"));
  ASSERT_EQ(menu.size(), 2u);
  EXPECT_EQ(menu[0].title, "Sport");
  EXPECT_EQ(menu[0].url, "http://www.vestavind.test/sport");
  EXPECT_EQ(menu[0].navtype, "kNavBarVestavindSection");
  EXPECT_FALSE(menu[0].hasSubmenu());
  EXPECT_FALSE(menu[1].url.has_value());
  ASSERT_TRUE(menu[1].hasSubmenu());
  EXPECT_EQ(menu[1].submenu[0].title, "Direkte");
  EXPECT_EQ(menu[1].submenu[0].url, "");  // present though empty: still opens a page
}

TEST(MenuConfiguration, MissingOrWrongKindOfDataGivesAnEmptyMenu) {
  EXPECT_TRUE(rootMenuFromConfiguration(platform::Value()).empty());
  EXPECT_TRUE(rootMenuFromConfiguration(parse("[1, 2]")).empty());
  EXPECT_TRUE(rootMenuFromConfiguration(parse("\"text\"")).empty());
  EXPECT_TRUE(rootMenuFromConfiguration(parse("42")).empty());
  EXPECT_TRUE(rootMenuFromConfiguration(parse(R"({"vestavind": []})")).empty());
  EXPECT_TRUE(rootMenuFromConfiguration(parse(R"({"Vestavind": {"title": "x"}})")).empty());
}

TEST(MenuConfiguration, EntriesOfTheWrongKindKeepTheirRowButDoNothing) {
  const Menu menu = rootMenuFromConfiguration(parse(R"({"Vestavind": [
      "bare text", null,
      {"title": 5, "url": 7, "navtype": ["x"], "submenu": "none"},
      {"submenu": []}
    ]})"));
  ASSERT_EQ(menu.size(), 4u);
  for (const MenuEntry& entry : menu) {
    EXPECT_EQ(entry.title, "");
    EXPECT_FALSE(entry.url.has_value());
    EXPECT_FALSE(entry.navtype.has_value());
    EXPECT_FALSE(entry.hasSubmenu());
  }
}

}  // namespace
}  // namespace app
