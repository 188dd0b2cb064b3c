#include "app/app_delegate.hpp"

#include <cstdlib>

#include "app/article_transition.hpp"
#include "app/http_get.hpp"
#include "app/menu_config_loader.hpp"
#include "app/menu_entry.hpp"
#include "app/push_payload.hpp"
#include "app/reader_credentials.hpp"
#include "app/reachability.hpp"
#include "app/services.hpp"
#include "app/sidebar_view_controller.hpp"
#include "app/site_constants.hpp"
#include "app/view_controller.hpp"
#include "platform/executor.hpp"
#include "platform/log.hpp"
#include "platform/user_defaults.hpp"
#include "reveal/reveal_controller.hpp"

namespace app {

namespace ui = platform::ui;

namespace {

ApplicationActivity activityOf(ui::ApplicationState state) {
  switch (state) {
    case ui::ApplicationState::Active: return ApplicationActivity::Active;
    case ui::ApplicationState::Inactive: return ApplicationActivity::Inactive;
    case ui::ApplicationState::Background: return ApplicationActivity::Background;
  }
  return ApplicationActivity::Inactive;
}

BackendClient* backend() {
  BackendClient* client = Services::shared().backend.get();
  if (!client) platform::log("Backend client not configured; installation not saved");
  return client;
}

}  // namespace

AppDelegate::AppDelegate(ExitHandler exitProcess)
    : exitProcess_(exitProcess ? std::move(exitProcess) : ExitHandler([](int status) { std::exit(status); })) {}

bool AppDelegate::didFinishLaunching(ui::Application& application, const platform::Value& launchOptions) {
  auto reachability = Reachability::reachabilityForInternetConnection();
  const bool online = reachability && reachability->currentReachabilityStatus() != ReachabilityStatus::None;
  if (online) {
    buildScreenTree(application, launchOptions);
  } else {
    showNoNetworkAlert();
  }
  setUpServices(application);
  return true;
}

void AppDelegate::showNoNetworkAlert() {
  auto alert = ui::AlertView::create("Ingen internett-tilkobling!", "Denne appen krever en aktiv tilkobling til internett!",
                                     weak_from_this(), std::string("Ok"));
  alert->setTag(kNoNetworkAlertTag);
  alert->show();
}

void AppDelegate::buildScreenTree(ui::Application& application, const platform::Value& launchOptions) {
  window_ = ui::Window::create(ui::Screen::main().bounds());
  auto home = ViewController::create(std::string(kMainSiteURL), NavType(kNavBarVestavind), "");
  navController_ = ui::NavigationController::create(home);
  // The front page starts loading before the menu's configuration is
  // fetched: only the sidebar waits for that.
  home->view();
  loadMenuConfig();
  ui::Application::shared().registerForRemoteNotificationTypes(kRemoteNotificationTypes);

  const platform::Value configuration = platform::UserDefaults::standard().objectForKey(kMenuConfigKey);
  auto sidebar =
      SidebarViewController::create(rootMenuFromConfiguration(configuration), NavType(kNavBarVestavind), "Vestavind");
  auto sidebarNavigation = ui::NavigationController::create(sidebar);

  revealController_ = reveal::RevealController::create(navController_, nullptr, sidebarNavigation);
  window_->setRootViewController(revealController_);

  if (const platform::Dictionary* options = launchOptions.dictionary()) {
    if (const platform::Value* payload = options->find(ui::kLaunchOptionsRemoteNotificationKey)) {
      handleNotification(application, *payload);
    }
  }
  window_->makeKeyAndVisible();
}

void AppDelegate::setUpServices(ui::Application& application) {
  if (BackendClient* client = backend()) client->setApplicationId(kReaderApplicationId, kReaderClientKey);
  application.registerForRemoteNotificationTypes(kRemoteNotificationTypes);
  if (BackendClient* client = backend()) client->subscribeCurrentInstallation(kNewsChannel);

  analytics::Analytics& analytics = Services::analyticsClient();
  analytics.setTrackUncaughtExceptions(true);
  analytics.setDispatchInterval(kAnalyticsDispatchInterval);
  if (auto tracker = analytics.trackerWithTrackingId(kAnalyticsTrackingId)) tracker->set("&sc", "start");
}

void AppDelegate::loadMenuConfig() { app::loadMenuConfig(platform::UserDefaults::standard()); }

void AppDelegate::setSessionMark(const char* value) {
  if (auto tracker = Services::defaultTracker()) tracker->set("&sc", value);
}

void AppDelegate::applicationWillResignActive(ui::Application&) {
  setSessionMark("end");
  platform::log("end");
}

void AppDelegate::applicationWillEnterForeground(ui::Application&) {
  setSessionMark("start");
  platform::log("Start");
}

void AppDelegate::applicationWillTerminate(ui::Application&) {
  setSessionMark("end");
  platform::log("end");
}

void AppDelegate::didRegisterForRemoteNotifications(ui::Application&, const std::vector<std::uint8_t>& deviceToken) {
  const std::string tokenText = deviceTokenText(deviceToken);
  sendProviderDeviceToken(tokenText);
  if (BackendClient* client = backend()) client->setDeviceTokenOnCurrentInstallation(tokenText);
}

void AppDelegate::didFailToRegisterForRemoteNotifications(ui::Application&, const platform::Error& error) {
  platform::log("Error in registration. Error: " + error.description());
}

void AppDelegate::sendProviderDeviceToken(const std::string& tokenText) {
  platform::log(tokenText);
  // Nobody waits for the answer; failures are not retried.
  platform::backgroundQueue().post([url = providerRegistrationURL(tokenText)] { httpGet(url); });
}

void AppDelegate::didReceiveRemoteNotification(ui::Application& application, const platform::Value& userInfo) {
  try {
    handleNotification(application, userInfo);
  } catch (const std::exception& exception) {
    platform::log(std::string("Exception: ") + exception.what());
  }
  platform::log("Note");
}

void AppDelegate::handleNotification(ui::Application& application, const platform::Value& userInfo) {
  const PushPayload payload = PushPayload::fromValue(userInfo);
  const PushAction action = decidePushAction(payload, activityOf(application.state()));
  if (action == PushAction::Ignore) return;
  remoteNotificationUrl_ = payload.url;
  if (action == PushAction::OpenArticle) {
    openPushedArticle(payload.url);
    return;
  }
  auto alert = ui::AlertView::create(std::string(kSiteDisplayName), *payload.alert, weak_from_this(),
                                     std::string("Lukk"), {"Les mer"});
  alert->setTag(kPushAlertTag);
  // Each alert opens its own story, whatever pushes came after it.
  pushAlertUrls_[alert.get()] = payload.url;
  alert->show();
}

void AppDelegate::openPushedArticle(const std::optional<std::string>& url) {
  // An offline launch has no screens to open it on.
  if (!navController_) return;
  playArticleTransition(*navController_->view());
  navController_->pushViewController(ViewController::create(url.value_or(""), NavType(kNavBarArticle), ""), false);
}

void AppDelegate::alertViewClickedButtonAtIndex(ui::AlertView& alertView, int buttonIndex) {
  if (alertView.tag() == kNoNetworkAlertTag && buttonIndex == 0) {
    exitProcess_(0);
    return;
  }
  if (alertView.tag() != kPushAlertTag) return;
  const auto found = pushAlertUrls_.find(&alertView);
  if (found == pushAlertUrls_.end()) return;
  const std::optional<std::string> url = found->second;
  pushAlertUrls_.erase(found);
  if (buttonIndex == 1) openPushedArticle(url);
}

}  // namespace app
