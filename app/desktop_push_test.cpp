// Pushes on the desktop end to end: the launched application on the local
// services, its token registered with their push gateway and provider, and
// pushes sent through the services reaching the push handling.

#include "app/desktop_push.hpp"

#include <algorithm>

#include "app/http_get.hpp"
#include "devserver/push_gateway.hpp"
#include "devserver/server.hpp"
#include "support/app/shell_fixture.hpp"

namespace app {
namespace {

namespace ui = platform::ui;
using platform::Value;

constexpr auto kPatience = std::chrono::seconds(20);

class DesktopPushTest : public testing::ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    server.start();
    platform::ServiceRouting::shared().routeTo(server.baseUrl());
  }

  void TearDown() override {
    push.reset();
    ShellTest::TearDown();
    server.stop();
  }

  // Launches, starts the push stand-in, and waits until its stream is open
  // and the token has reached the provider.
  void launchWithPush() {
    launch();
    PushOptions options;
    options.firstRetryDelay = std::chrono::milliseconds(10);
    push = std::make_unique<DesktopPush>(delegate, options);
    push->start();
    ASSERT_TRUE(runUntil([this] { return push->isConnected() && providerKnows(push->deviceToken().value_or("-")); }));
  }

  bool providerKnows(const std::string& token) {
    const auto answer = httpGet(server.baseUrl() + "/_admin/push");
    return answer && answer->body.find("\"token\":\"" + token + "\"") != std::string::npos;
  }

  void sendThroughProvider(const Value& payload) {
    httplib::Client admin("127.0.0.1", server.port());
    const std::string body = platform::json::write(Value::dictionary({{"all", true}, {"payload", payload}}));
    auto answer = admin.Post("/_admin/push/send", body, "application/json");
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200) << answer->body;
    ASSERT_NE(answer->body.find("\"sent\":1"), std::string::npos) << answer->body;
  }

  bool runUntil(const std::function<bool()>& done) { return platform::RunLoop::main().runUntil(done, kPatience); }

  using PushOptions = platform::PushGatewayClient::Options;
  devserver::Server server{devserver::Server::Options{}};
  std::unique_ptr<DesktopPush> push;
};

Value articlePush(const char* alert, const char* url, int badge) {
  return Value::dictionary({{"aps", Value::dictionary({{"alert", alert}, {"badge", badge}})}, {"url", url}});
}

TEST_F(DesktopPushTest, TheGatewayTokenReachesTheProviderAndTheInstallation) {
  launchWithPush();
  const std::string token = push->deviceToken().value();
  EXPECT_EQ(token.size(), 64u);
  EXPECT_EQ(installation->deviceToken(), token);
  const auto gatewayTokens = server.pushGateway().tokens();
  EXPECT_NE(std::find(gatewayTokens.begin(), gatewayTokens.end(), token), gatewayTokens.end());
}

TEST_F(DesktopPushTest, APushWhileActiveAsksFirstAndLesMerOpensTheArticle) {
  launchWithPush();
  sendThroughProvider(articlePush("Storbrann i sentrum", "http://www.vestavind.test/nyheter/1", 3));
  ASSERT_TRUE(runUntil([] { return !ui::AlertView::visibleAlerts().empty(); }));
  const auto alerts = ui::AlertView::visibleAlerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0]->tag(), kPushAlertTag);
  EXPECT_EQ(alerts[0]->message(), "Storbrann i sentrum");
  EXPECT_EQ(ui::Application::shared().iconBadgeNumber(), 3);
  EXPECT_EQ(front().viewControllers().size(), 1u);

  alerts[0]->dismissWithClickedButtonIndex(1, false);
  settle();
  ASSERT_EQ(front().viewControllers().size(), 2u);
  EXPECT_EQ(frontScreen()->navType(), "kNavBarArticle");
  EXPECT_EQ(frontScreen()->url(), "http://www.vestavind.test/nyheter/1");
}

TEST_F(DesktopPushTest, APushInTheBackgroundOpensTheArticleAtOnce) {
  launchWithPush();
  ui::Application::shared().setState(ui::ApplicationState::Background);
  sendThroughProvider(articlePush("Valgresultat", "http://www.vestavind.test/nyheter/2", 1));
  ASSERT_TRUE(runUntil([this] { return front().viewControllers().size() == 2; }));
  EXPECT_TRUE(ui::AlertView::visibleAlerts().empty());
  EXPECT_EQ(frontScreen()->url(), "http://www.vestavind.test/nyheter/2");
  EXPECT_EQ(ui::Application::shared().iconBadgeNumber(), 1);
}

TEST_F(DesktopPushTest, MalformedPayloadsChangeNothingAndLaterPushesStillArrive) {
  launchWithPush();
  const std::string token = push->deviceToken().value();
  devserver::PushGateway& gateway = server.pushGateway();
  gateway.deliver(token, "{\"aps\": ");                               // not JSON
  gateway.deliver(token, R"({"aps": "Ny sak", "url": 7})");           // no alert text
  gateway.deliver(token, R"({"aps": {"alert": 12, "badge": -4}})");   // alert not text, badge below zero
  gateway.deliver(token, R"({"aps": {"badge": 2.5}})");               // no alert, badge not whole
  gateway.deliver(token, R"({"aps": {"alert": "Til slutt"}})");
  ASSERT_TRUE(runUntil([] { return !ui::AlertView::visibleAlerts().empty(); }));
  ASSERT_EQ(ui::AlertView::visibleAlerts().size(), 1u);
  EXPECT_EQ(ui::AlertView::visibleAlerts()[0]->message(), "Til slutt");
  EXPECT_EQ(ui::Application::shared().iconBadgeNumber(), 0);
  EXPECT_EQ(front().viewControllers().size(), 1u);
}

}  // namespace
}  // namespace app
