#include "app/app_delegate.hpp"

#include "app/reader_credentials.hpp"
#include "backend/net/backend.hpp"
#include "support/app/shell_fixture.hpp"

namespace app {
namespace {

using testing::ShellTest;
namespace ui = platform::ui;

constexpr const char* kMenu = R"({"Vestavind": [
  {"title": "Sport", "url": "http://www.vestavind.test/sport", "navtype": "kNavBarVestavindSection"},
  {"title": "Glimt", "navtype": "kNavBarGlimt", "submenu": [{"title": "Kjendis", "url": "http://www.glimt.test/k"}]}
]})";

platform::Value launchPush(const char* json) {
  return platform::Value::dictionary({{ui::kLaunchOptionsRemoteNotificationKey, platform::json::parse(json).value()}});
}

TEST_F(ShellTest, OnlineLaunchBuildsTheScreenTreeAndSetsUpTheServices) {
  sites.setMenuConfig(kMenu);
  launch();
  ASSERT_TRUE(delegate->window());
  EXPECT_TRUE(delegate->window()->isKeyWindow());
  EXPECT_EQ(delegate->window()->rootViewController(), container());
  EXPECT_EQ(container()->frontViewController(), delegate->navController());
  EXPECT_EQ(container()->leftViewController(), nullptr);

  ASSERT_EQ(front().viewControllers().size(), 1u);
  EXPECT_EQ(frontScreen()->url(), "http://m.vestavind.test?hideHeader=1");
  EXPECT_EQ(frontScreen()->navType(), "kNavBarVestavind");
  EXPECT_EQ(sidebarLevel()->navTitle(), "Vestavind");
  ASSERT_EQ(sidebarLevel()->data().size(), 2u);

  EXPECT_EQ(ui::Application::shared().registrationRequestCount(), 2);
  EXPECT_EQ(ui::Application::shared().registeredNotificationTypes(), 7u);
  EXPECT_EQ(backend::net::Backend::getApplicationId(), kReaderApplicationId);
  EXPECT_EQ(backend::net::Backend::getClientKey(), kReaderClientKey);
  EXPECT_EQ(installation->channels(), std::vector<std::string>{"newsUpdates"});
  ASSERT_TRUE(tracker);
  EXPECT_EQ(tracker->get("&tid"), "AN-318264-9");
  EXPECT_EQ(tracker->marks, std::vector<std::string>{"start"});  // becoming active adds none
  EXPECT_EQ(analyticsClient->dispatchInterval(), 5.0);
  EXPECT_TRUE(analyticsClient->trackUncaughtExceptions());

  const auto menuRequests = sites.requestsFor("/iosapp/menuconfig/");
  ASSERT_EQ(menuRequests.size(), 1u);
  EXPECT_EQ(menuRequests[0].host, "www.vestavind.test");
  const auto home = sites.requestsFor("/?hideHeader=1");
  ASSERT_EQ(home.size(), 1u);
  EXPECT_EQ(home[0].host, "m.vestavind.test");
  EXPECT_EQ(home[0].appHeader, platform::Bundle::main().version().value_or(""));
  EXPECT_EQ(tracker->screenNames(), std::vector<std::string>{"Frontpage"});
}

TEST_F(ShellTest, BrokenMenuConfigurationLeavesAnEmptySidebarAndStartUpGoesOn) {
  const std::string deep = std::string(300, '[') + std::string(300, ']');
  for (const std::string& config : {std::string("not json"), std::string("[1, 2, 3]"), std::string(R"({"Other": []})"), deep}) {
    sites.setMenuConfig(config);
    launch();
    EXPECT_TRUE(delegate->window()->isKeyWindow()) << config;
    sidebarLevel()->view();
    EXPECT_EQ(sidebarLevel()->tableView()->numberOfRows(0), 0) << config;
    ui::Application::shared().reset();
  }
}

TEST_F(ShellTest, OfflineLaunchShowsOneAlertAndOkEndsTheProcessWithStatusZero) {
  reachability.setDefaultFlags(platform::ReachabilityFlag::ConnectionRequired);
  launch();
  EXPECT_FALSE(delegate->window());
  EXPECT_TRUE(sites.requests().empty());
  const auto alerts = ui::AlertView::visibleAlerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0]->tag(), 1);
  EXPECT_EQ(alerts[0]->title(), "Ingen internett-tilkobling!");
  EXPECT_EQ(alerts[0]->message(), "Denne appen krever en aktiv tilkobling til internett!");
  EXPECT_EQ(alerts[0]->buttonTitleAtIndex(0), "Ok");
  // The services are still set up.
  EXPECT_EQ(installation->channels(), std::vector<std::string>{"newsUpdates"});
  ASSERT_TRUE(tracker);
  EXPECT_EQ(tracker->marks, std::vector<std::string>{"start"});

  EXPECT_FALSE(exitStatus);
  alerts[0]->dismissWithClickedButtonIndex(0);
  EXPECT_EQ(exitStatus, 0);
}

TEST_F(ShellTest, LaunchByAPushOpensTheArticleBeforeTheWindowIsShown) {
  launch(launchPush(R"({"aps": {"alert": "Ny sak"}, "url": "http://www.vestavind.test/nyhet/1"})"));
  ASSERT_EQ(front().viewControllers().size(), 2u);
  EXPECT_EQ(frontScreen()->url(), "http://www.vestavind.test/nyhet/1");
  EXPECT_EQ(frontScreen()->navType(), "kNavBarArticle");
  EXPECT_TRUE(ui::AlertView::visibleAlerts().empty());
  // Pushed onto a stack that was not on screen yet: it appeared once, with the window.
  EXPECT_EQ(frontScreen()->appearanceState(), ui::AppearanceState::Appeared);
  const auto& animations = front().view()->layer().animations();
  ASSERT_FALSE(animations.empty());
  EXPECT_EQ(animations.back().second.type, ui::kTransitionMoveIn);
}

TEST_F(ShellTest, LaunchOptionsWithoutAPushChangeNothing) {
  launch(platform::Value::dictionary({{"SomeOtherKey", "x"}}));
  EXPECT_EQ(front().viewControllers().size(), 1u);
  EXPECT_FALSE(delegate->remoteNotificationUrl());
}

TEST_F(ShellTest, LifecycleSetsSessionMarksOnTheDefaultTracker) {
  launch();
  ui::Application& application = ui::Application::shared();
  application.setState(ui::ApplicationState::Background);
  application.setState(ui::ApplicationState::Active);
  application.terminate();
  EXPECT_EQ(tracker->marks, (std::vector<std::string>{"start", "end", "start", "end"}));
}

class PushTest : public ShellTest {
 protected:
  void deliver(const char* json) {
    ui::Application::shared().deliverRemoteNotification(platform::json::parse(json).value());
    settle();
  }
};

TEST_F(PushTest, ForegroundPushAsksFirstAndLesMerOpensTheArticle) {
  launch();
  deliver(R"({"aps": {"alert": "Ny sak"}, "url": "http://www.vestavind.test/nyhet/2"})");
  auto alerts = ui::AlertView::visibleAlerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0]->tag(), 0);
  EXPECT_EQ(alerts[0]->title(), "Vestavind");
  EXPECT_EQ(alerts[0]->message(), "Ny sak");
  EXPECT_EQ(alerts[0]->buttonTitleAtIndex(0), "Lukk");
  EXPECT_EQ(alerts[0]->buttonTitleAtIndex(1), "Les mer");
  EXPECT_EQ(front().viewControllers().size(), 1u);

  alerts[0]->dismissWithClickedButtonIndex(1);
  settle();
  ASSERT_EQ(front().viewControllers().size(), 2u);
  EXPECT_EQ(frontScreen()->url(), "http://www.vestavind.test/nyhet/2");
  EXPECT_FALSE(front().lastChangeAnimated());
  EXPECT_EQ(front().view()->layer().animations().back().second.subtype, ui::kTransitionFromRight);
}

TEST_F(PushTest, LukkLeavesTheScreensAndEachAlertOpensItsOwnStory) {
  launch();
  deliver(R"({"aps": {"alert": "En"}, "url": "http://www.vestavind.test/en"})");
  deliver(R"({"aps": {"alert": "To"}, "url": "http://www.vestavind.test/to"})");
  EXPECT_EQ(delegate->remoteNotificationUrl(), "http://www.vestavind.test/to");
  auto alerts = ui::AlertView::visibleAlerts();
  ASSERT_EQ(alerts.size(), 2u);
  alerts[1]->dismissWithClickedButtonIndex(0);
  EXPECT_EQ(front().viewControllers().size(), 1u);
  alerts[0]->dismissWithClickedButtonIndex(1);
  settle();
  ASSERT_EQ(front().viewControllers().size(), 2u);
  EXPECT_EQ(frontScreen()->url(), "http://www.vestavind.test/en");
}

TEST_F(PushTest, BackgroundPushOpensDirectlyAndOneWithoutAlertIsIgnored) {
  launch();
  ui::Application::shared().setState(ui::ApplicationState::Background);
  deliver(R"({"aps": {"badge": 1}, "url": "http://www.vestavind.test/stille"})");
  EXPECT_EQ(front().viewControllers().size(), 1u);
  EXPECT_FALSE(delegate->remoteNotificationUrl());

  deliver(R"({"aps": {"alert": "Ny sak"}})");
  EXPECT_TRUE(ui::AlertView::visibleAlerts().empty());
  ASSERT_EQ(front().viewControllers().size(), 2u);
  EXPECT_EQ(frontScreen()->url(), "");  // no URL: a screen that loads nothing
}

TEST_F(PushTest, TokenGoesToTheProviderAndTheInstallation) {
  launch();
  ui::Application::shared().deliverDeviceToken({0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f, 0x60, 0xff});
  ASSERT_TRUE(platform::RunLoop::main().runUntil(
      [&] { return !sites.requestsFor("/pn/addDevice/0a1b2c3d4e5f60ff").empty(); }, std::chrono::seconds(10)));
  EXPECT_EQ(sites.requestsFor("/pn/addDevice/0a1b2c3d4e5f60ff")[0].host, "www.vestavind.test");
  EXPECT_EQ(installation->deviceToken(), "0a1b2c3d4e5f60ff");
}

}  // namespace
}  // namespace app
