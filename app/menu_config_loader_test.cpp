#include "app/menu_config_loader.hpp"

#include <gtest/gtest.h>

#include <memory>

#include "app/menu_entry.hpp"
#include "platform/service_routing.hpp"
#include "support/loopback_server.hpp"
#include "support/scratch_directory.hpp"

namespace app {
namespace {

// A publisher site on loopback, reached through service routing so the
// compiled-in menu URL keeps its meaning.
class MenuConfigLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ServiceRouting::shared().routeTo(server->url());
    defaults = std::make_unique<platform::UserDefaults>(directory / "defaults.json");
    defaults->setObject(platform::Value("old"), "kMenuConfig");
  }

  void TearDown() override { platform::ServiceRouting::shared().clear(); }

  void answer(std::string body, int status = 200) {
    server->page("/iosapp/menuconfig/", std::move(body), "application/json", status);
  }

  std::unique_ptr<test_support::LoopbackServer> server = std::make_unique<test_support::LoopbackServer>();
  test_support::ScratchDirectory directory;
  std::unique_ptr<platform::UserDefaults> defaults;
};

TEST_F(MenuConfigLoaderTest, StoresTheDecodedConfigurationFetchedFromTheMainSite) {
  answer(R"({"Vestavind": [{"title": "Sport", "url": "http://www.vestavind.test/sport"}]})");
  loadMenuConfig(*defaults);
  ASSERT_EQ(server->requestCount(), 1u);
  EXPECT_EQ(server->requests()[0].header("Host"), "www.vestavind.test");
  const Menu menu = rootMenuFromConfiguration(defaults->objectForKey("kMenuConfig"));
  ASSERT_EQ(menu.size(), 1u);
  EXPECT_EQ(menu[0].title, "Sport");
}

TEST_F(MenuConfigLoaderTest, AcceptsTopLevelValuesThatAreNotObjects) {
  answer("[1, 2]");
  loadMenuConfig(*defaults);
  EXPECT_TRUE(defaults->objectForKey("kMenuConfig").isArray());
  answer("\"just text\"");
  loadMenuConfig(*defaults);
  EXPECT_EQ(defaults->objectForKey("kMenuConfig"), platform::Value("just text"));
  EXPECT_TRUE(rootMenuFromConfiguration(defaults->objectForKey("kMenuConfig")).empty());
}

TEST_F(MenuConfigLoaderTest, ClearsTheStoredValueWhenTheAnswerIsNoConfiguration) {
  answer("<html>not json</html>");
  loadMenuConfig(*defaults);
  EXPECT_TRUE(defaults->objectForKey("kMenuConfig").isNil());

  defaults->setObject(platform::Value("old"), "kMenuConfig");
  answer(R"({"Vestavind": []})", 500);
  loadMenuConfig(*defaults);
  EXPECT_TRUE(defaults->objectForKey("kMenuConfig").isNil());
}

TEST_F(MenuConfigLoaderTest, ANestingTheStoreCannotKeepIsDeclinedWithoutRaising) {
  answer(R"({"Vestavind": )" + std::string(300, '[') + std::string(300, ']') + "}");
  EXPECT_NO_THROW(loadMenuConfig(*defaults));
  EXPECT_TRUE(defaults->objectForKey("kMenuConfig").isNil());

  answer(R"({"Vestavind": [{"title": null, "url": "http://www.vestavind.test/sport"}]})");
  loadMenuConfig(*defaults);
  EXPECT_EQ(rootMenuFromConfiguration(defaults->objectForKey("kMenuConfig")).size(), 1u);
}

TEST_F(MenuConfigLoaderTest, ClearsTheStoredValueWhenTheSiteCannotBeReached) {
  server.reset();
  loadMenuConfig(*defaults);
  EXPECT_TRUE(defaults->objectForKey("kMenuConfig").isNil());
}

}  // namespace
}  // namespace app
