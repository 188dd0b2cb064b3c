// The reader's terminal mode end to end: the real program, driven through
// stdin, against the local services; what the services saw is read back
// through their inspection endpoints.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/http_get.hpp"
#include "devserver/server.hpp"
#include "platform/json.hpp"
#include "support/collected_hits.hpp"
#include "support/eventually.hpp"
#include "support/newsreader_process.hpp"
#include "support/program_run.hpp"
#include "support/scratch_directory.hpp"

namespace {

// The reader in its terminal mode on the services at `servicesURL`.
test_support::NewsreaderProcess startTerminalReader(const std::string& servicesURL,
                                                    const std::filesystem::path& dataDir) {
  return test_support::NewsreaderProcess(
      NEWSREADER_PATH, {"--headless", "--services", servicesURL, "--data-dir", dataDir.string()});
}

platform::Value admin(const devserver::Server& server, const std::string& path) {
  const auto answer = app::httpGet(server.baseUrl() + path);
  if (!answer) return {};
  auto parsed = platform::json::parse(answer->body);
  return parsed ? parsed.value() : platform::Value();
}

bool sawRequest(const devserver::Server& server, const std::string& host, const std::string& path,
                std::string* appHeader = nullptr) {
  const platform::Value requests = admin(server, "/_admin/requests?host=" + host)["requests"];
  const platform::Array* list = requests.array();
  if (!list) return false;
  for (const platform::Value& request : *list) {
    if (request["path"] != platform::Value(path)) continue;
    if (appHeader) {
      const platform::Value header = request["headers"]["vestavind_mobile_app"];
      *appHeader = header.isString() ? header.asString() : "";
    }
    return true;
  }
  return false;
}

TEST(NewsreaderTerminal, BrowsesTheMenuOpensAnArticleAndRegistersTheToken) {
  devserver::Server server(devserver::Server::Options{});
  server.start();
  test_support::ScratchDirectory dataDir;
  auto reader = startTerminalReader(server.baseUrl(), dataDir.path());

  ASSERT_TRUE(reader.waitForText("ready")) << reader.output();
  // The start-up's analytics calls and the front page's hit, each once.
  const auto firstHit = test_support::waitForFirstHit(server.baseUrl(), "appview");
  ASSERT_TRUE(firstHit) << reader.output();
  EXPECT_EQ((*firstHit)["_u"], platform::Value(".etnKoL")) << (*firstHit)["_u"].description();
  EXPECT_EQ((*firstHit)["sc"], platform::Value("start")) << (*firstHit)["sc"].description();
  EXPECT_TRUE(sawRequest(server, "www.vestavind.test", "/iosapp/menuconfig/"));
  std::string homeHeader;
  EXPECT_TRUE(sawRequest(server, "m.vestavind.test", "/", &homeHeader));
  EXPECT_FALSE(homeHeader.empty());

  ASSERT_TRUE(reader.send("menu"));
  ASSERT_TRUE(reader.waitForText("  0 ")) << reader.output();
  ASSERT_TRUE(reader.send("select 0"));
  ASSERT_TRUE(reader.waitForText("screen pushed: kNavBarVestavindSection")) << reader.output();
  ASSERT_TRUE(reader.waitForText("hit")) << reader.output();
  ASSERT_TRUE(reader.send("screens"));
  ASSERT_TRUE(reader.waitForText("  1 kNavBarVestavindSection")) << reader.output();

  ASSERT_TRUE(reader.send("token 0a1b2c3d4e5f60ff"));
  ASSERT_TRUE(reader.send("push {\"aps\": {\"alert\": \"Ny sak\"}, \"url\": \"http://www.vestavind.test/\"}"));
  ASSERT_TRUE(reader.waitForText("alert shown: tag 0 \"Vestavind\" \"Ny sak\"")) << reader.output();
  ASSERT_TRUE(reader.send("answer 0"));
  ASSERT_TRUE(reader.send("quit"));
  EXPECT_EQ(reader.closeInputDrainAndWait(), 0) << reader.output();

  EXPECT_TRUE(sawRequest(server, "www.vestavind.test", "/pn/addDevice/0a1b2c3d4e5f60ff"));
  server.stop();
}

// The installation the reader saved once it has its device token, or nil.
platform::Value subscribedInstallation(const devserver::Server& server) {
  const platform::Value results = admin(server, "/_admin/objects/_Installation")["results"];
  const platform::Array* list = results.array();
  if (!list) return {};
  for (const platform::Value& installation : *list) {
    if (installation["deviceToken"].isString() && installation["channels"] == platform::Value::array({"newsUpdates"}))
      return installation;
  }
  return {};
}

TEST(NewsreaderTerminal, APushSentToTheNewsChannelReachesTheReaderThroughItsInstallation) {
  devserver::Server server(devserver::Server::Options{});
  server.start();
  test_support::ScratchDirectory dataDir;
  auto reader = startTerminalReader(server.baseUrl(), dataDir.path() / "reader");
  ASSERT_TRUE(reader.waitForText("ready")) << reader.output();
  platform::Value installation;
  test_support::eventually(
      [&] {
        installation = subscribedInstallation(server);
        return !installation.isNil();
      },
      test_support::kEventuallyTimeout, std::chrono::milliseconds(50));
  ASSERT_FALSE(installation.isNil()) << reader.output();

  const auto sent = test_support::runProgram(
      {BACKENDCTL_PATH, "--server", server.baseUrl(), "--data-dir", (dataDir.path() / "ctl").string(), "push",
       "--channel", "newsUpdates", "--message", "Ny sak", "--data", R"({"url": "http://www.vestavind.test/"})"},
      dataDir.path());
  ASSERT_EQ(sent.status, 0) << sent.err;
  EXPECT_EQ(sent.out, "true\n");
  ASSERT_TRUE(reader.waitForText("alert shown: tag 0 \"Vestavind\" \"Ny sak\"")) << reader.output();
  ASSERT_TRUE(reader.send("answer 1"));
  ASSERT_TRUE(reader.waitForText("screen pushed: kNavBarArticle")) << reader.output();
  ASSERT_TRUE(reader.send("quit"));
  EXPECT_EQ(reader.closeInputDrainAndWait(), 0) << reader.output();

  // A second launch reuses the record and adds no second channel.
  auto again = startTerminalReader(server.baseUrl(), dataDir.path() / "reader");
  ASSERT_TRUE(again.waitForText("ready")) << again.output();
  ASSERT_TRUE(again.send("quit"));
  EXPECT_EQ(again.closeInputDrainAndWait(), 0) << again.output();
  const platform::Value results = admin(server, "/_admin/objects/_Installation")["results"];
  const platform::Array* stored = results.array();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->size(), 1u);
  server.stop();
}

}  // namespace
