#include "app/menu_config_loader.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <filesystem>
#include <chrono>
#include <thread>

#include "app/menu_entry.hpp"
#include "platform/service_routing.hpp"

namespace app {
namespace {

// A publisher site on loopback, reached through service routing so the
// compiled-in menu URL keeps its meaning.
class MenuConfigLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.Get("/iosapp/menuconfig/", [this](const httplib::Request& request, httplib::Response& response) {
      host = request.get_header_value("Host");
      response.status = status;
      response.set_content(body, "application/json");
    });
    port = server.bind_to_any_port("127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    platform::ServiceRouting::shared().routeTo("http://127.0.0.1:" + std::to_string(port));
    directory = std::filesystem::temp_directory_path() /
                ("menu-config-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
    defaults = std::make_unique<platform::UserDefaults>(directory / "defaults.json");
    defaults->setObject(platform::Value("old"), "kMenuConfig");
  }

  void TearDown() override {
    platform::ServiceRouting::shared().clear();
    server.stop();
    thread.join();
    defaults.reset();
    std::filesystem::remove_all(directory);
  }

  httplib::Server server;
  std::thread thread;
  int port = 0;
  int status = 200;
  std::string body;
  std::string host;
  std::filesystem::path directory;
  std::unique_ptr<platform::UserDefaults> defaults;
};

TEST_F(MenuConfigLoaderTest, StoresTheDecodedConfigurationFetchedFromTheMainSite) {
  body = R"({"Vestavind": [{"title": "Sport", "url": "http://www.vestavind.test/sport"}]})";
  loadMenuConfig(*defaults);
  EXPECT_EQ(host, "www.vestavind.test");
  const Menu menu = rootMenuFromConfiguration(defaults->objectForKey("kMenuConfig"));
  ASSERT_EQ(menu.size(), 1u);
  EXPECT_EQ(menu[0].title, "Sport");
}

TEST_F(MenuConfigLoaderTest, AcceptsTopLevelValuesThatAreNotObjects) {
  body = "[1, 2]";
  loadMenuConfig(*defaults);
  EXPECT_TRUE(defaults->objectForKey("kMenuConfig").isArray());
  body = "\"just text\"";
  loadMenuConfig(*defaults);
  EXPECT_EQ(defaults->objectForKey("kMenuConfig"), platform::Value("just text"));
  EXPECT_TRUE(rootMenuFromConfiguration(defaults->objectForKey("kMenuConfig")).empty());
}

TEST_F(MenuConfigLoaderTest, ClearsTheStoredValueWhenTheAnswerIsNoConfiguration) {
  body = "<html>not json</html>";
  loadMenuConfig(*defaults);
  EXPECT_TRUE(defaults->objectForKey("kMenuConfig").isNil());

  defaults->setObject(platform::Value("old"), "kMenuConfig");
  status = 500;
  body = R"({"Vestavind": []})";
  loadMenuConfig(*defaults);
  EXPECT_TRUE(defaults->objectForKey("kMenuConfig").isNil());
}

TEST_F(MenuConfigLoaderTest, ClearsTheStoredValueWhenTheSiteCannotBeReached) {
  server.stop();
  loadMenuConfig(*defaults);
  EXPECT_TRUE(defaults->objectForKey("kMenuConfig").isNil());
}

}  // namespace
}  // namespace app
