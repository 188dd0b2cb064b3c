#include "platform/ui/application.hpp"

#include <fmt/format.h>
#include <iterator>

#include "platform/application_notifications.hpp"
#include "platform/application_services.hpp"
#include "platform/ui/alert_view.hpp"
#include "platform/notification_center.hpp"

namespace platform::ui {

Application::Application() {
  installApplicationHooks({[this] { return state_ == ApplicationState::Active; },
                           [](const std::string& title, const std::string& message, const std::string& button) {
                             AlertView::create(title, message, {}, button)->show();
                           },
                           nullptr});
}

Application& Application::shared() {
  static Application application;
  return application;
}

bool Application::launch(const Value& launchOptions) {
  state_ = ApplicationState::Inactive;
  if (!memoryWatch_) memoryWatch_ = std::make_unique<MemoryWatch>();
  const bool result = delegate_ ? delegate_->didFinishLaunching(*this, launchOptions) : true;
  setState(ApplicationState::Active);
  return result;
}

void Application::step(ApplicationState to) {
  const ApplicationState from = state_;
  state_ = to;
  // Keep the delegate alive even if a handler replaces it.
  auto delegate = delegate_;
  auto tell = [&](void (ApplicationDelegate::*handler)(Application&), const char* notification) {
    if (delegate) ((*delegate).*handler)(*this);
    NotificationCenter::defaultCenter().post(notification);
  };
  if (from == ApplicationState::Active && to == ApplicationState::Inactive) {
    tell(&ApplicationDelegate::applicationWillResignActive, kApplicationWillResignActiveNotification);
  } else if (from == ApplicationState::Inactive && to == ApplicationState::Background) {
    tell(&ApplicationDelegate::applicationDidEnterBackground, kApplicationDidEnterBackgroundNotification);
  } else if (from == ApplicationState::Background && to == ApplicationState::Inactive) {
    tell(&ApplicationDelegate::applicationWillEnterForeground, kApplicationWillEnterForegroundNotification);
  } else if (from == ApplicationState::Inactive && to == ApplicationState::Active) {
    tell(&ApplicationDelegate::applicationDidBecomeActive, kApplicationDidBecomeActiveNotification);
  }
}

void Application::setState(ApplicationState state) {
  if (state == state_) return;
  // Active and background never meet directly: the way passes through inactive.
  if (state_ != ApplicationState::Inactive && state != ApplicationState::Inactive) step(ApplicationState::Inactive);
  step(state);
}

void Application::terminate() {
  if (auto delegate = delegate_) delegate->applicationWillTerminate(*this);
  NotificationCenter::defaultCenter().post(kApplicationWillTerminateNotification);
}

int Application::iconBadgeNumber() const { return platform::iconBadgeNumber(); }

void Application::setIconBadgeNumber(int number) { platform::setIconBadgeNumber(number); }

void Application::registerForRemoteNotificationTypes(unsigned types) {
  registeredTypes_ = types;
  ++registrationRequests_;
}

void Application::deliverDeviceToken(const std::vector<std::uint8_t>& token) {
  if (auto delegate = delegate_) delegate->didRegisterForRemoteNotifications(*this, token);
}

void Application::deliverRegistrationError(const Error& error) {
  if (auto delegate = delegate_) delegate->didFailToRegisterForRemoteNotifications(*this, error);
}

void Application::deliverRemoteNotification(const Value& userInfo) {
  if (auto delegate = delegate_) delegate->didReceiveRemoteNotification(*this, userInfo);
}

void Application::setKeyWindow(Window* window) { keyWindow_ = window; }

void Application::reset() {
  delegate_.reset();
  state_ = ApplicationState::Inactive;
  platform::setIconBadgeNumber(0);
  networkIndicator_ = false;
  registeredTypes_ = 0;
  registrationRequests_ = 0;
  keyWindow_ = nullptr;
}

std::string describeData(const std::vector<std::uint8_t>& bytes) {
  std::string out = "<";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && i % 4 == 0) out += ' ';
    fmt::format_to(std::back_inserter(out), "{:02x}", bytes[i]);
  }
  return out + ">";
}

}  // namespace platform::ui
