#pragma once
// The application delegate: start-up (network check, menu configuration,
// screen tree, service set-up), lifecycle session marks, and push handling.
// Every call arrives on the main thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/alert_view.hpp"
#include "platform/ui/application.hpp"
#include "platform/ui/navigation_controller.hpp"
#include "platform/ui/window.hpp"
#include "platform/value.hpp"

namespace reveal {
class RevealController;
}

namespace app {

class ViewController;

inline constexpr const char* kAnalyticsTrackingId = "AN-318264-9";
inline constexpr const char* kNewsChannel = "newsUpdates";
inline constexpr double kAnalyticsDispatchInterval = 5.0;
inline constexpr unsigned kRemoteNotificationTypes = 7;  // badge, sound and alert

// Alert tags: the push alert and the no-network alert.
inline constexpr int kPushAlertTag = 0;
inline constexpr int kNoNetworkAlertTag = 1;

class AppDelegate : public platform::ui::ApplicationDelegate,
                    public platform::ui::AlertViewDelegate,
                    public std::enable_shared_from_this<AppDelegate> {
 public:
  // Ends the process with a status; the program decides how (the terminal
  // stops its loop and returns it from main).
  using ExitHandler = std::function<void(int status)>;

  // `exitProcess` defaults to std::exit.
  explicit AppDelegate(ExitHandler exitProcess = {});

  // Launch: always answers true.
  bool didFinishLaunching(platform::ui::Application& application, const platform::Value& launchOptions) override;
  // Downloads and stores the menu configuration (blocking).
  void loadMenuConfig();

  void applicationWillResignActive(platform::ui::Application& application) override;
  void applicationWillEnterForeground(platform::ui::Application& application) override;
  void applicationWillTerminate(platform::ui::Application& application) override;

  void didRegisterForRemoteNotifications(platform::ui::Application& application,
                                         const std::vector<std::uint8_t>& deviceToken) override;
  void didFailToRegisterForRemoteNotifications(platform::ui::Application& application,
                                               const platform::Error& error) override;
  void didReceiveRemoteNotification(platform::ui::Application& application, const platform::Value& userInfo) override;

  // Sends the token text to the publisher's push provider, fire and forget.
  void sendProviderDeviceToken(const std::string& tokenText);
  // Opens the push's article at once, or asks first when the app is active.
  void handleNotification(platform::ui::Application& application, const platform::Value& userInfo);

  void alertViewClickedButtonAtIndex(platform::ui::AlertView& alertView, int buttonIndex) override;

  // The screen tree (null after an offline launch).
  const std::shared_ptr<reveal::RevealController>& revealController() const { return revealController_; }
  const std::shared_ptr<platform::ui::Window>& window() const { return window_; }
  const std::shared_ptr<platform::ui::NavigationController>& navController() const { return navController_; }
  const std::optional<std::string>& remoteNotificationUrl() const { return remoteNotificationUrl_; }

 private:
  void showNoNetworkAlert();
  void buildScreenTree(platform::ui::Application& application, const platform::Value& launchOptions);
  void setUpServices(platform::ui::Application& application);
  void setSessionMark(const char* value);
  void openPushedArticle(const std::optional<std::string>& url);

  ExitHandler exitProcess_;
  std::shared_ptr<reveal::RevealController> revealController_;
  std::shared_ptr<platform::ui::Window> window_;
  std::optional<std::string> remoteNotificationUrl_;
  std::shared_ptr<platform::ui::NavigationController> navController_;
  // The article of each push alert still on screen.
  std::map<const platform::ui::AlertView*, std::optional<std::string>> pushAlertUrls_;
};

}  // namespace app
