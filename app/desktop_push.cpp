#include "app/desktop_push.hpp"

#include <cmath>
#include <limits>

#include "app/app_delegate.hpp"
#include "platform/ui/application.hpp"

namespace app {

namespace ui = platform::ui;

namespace {

// "aps"."badge" when it is a whole number the icon can show.
std::optional<int> badgeOf(const platform::Value& userInfo) {
  const platform::Value badge = userInfo["aps"]["badge"];
  if (!badge.isNumber()) return std::nullopt;
  const double number = badge.doubleValue();
  if (!(number >= 0) || number > std::numeric_limits<int>::max() || std::floor(number) != number) return std::nullopt;
  return static_cast<int>(number);
}

}  // namespace

DesktopPush::DesktopPush(std::weak_ptr<AppDelegate> delegate, platform::PushGatewayClient::Options options)
    : delegate_(std::move(delegate)),
      client_(
          platform::PushGatewayClient::Handlers{
              [this](const std::vector<std::uint8_t>& token) {
                if (auto delegate = delegate_.lock()) {
                  delegate->didRegisterForRemoteNotifications(ui::Application::shared(), token);
                }
              },
              [this](const platform::Error& error) {
                if (auto delegate = delegate_.lock()) {
                  delegate->didFailToRegisterForRemoteNotifications(ui::Application::shared(), error);
                }
              },
              [this](const platform::Value& userInfo) { didReceive(userInfo); }},
          std::move(options)) {}

DesktopPush::~DesktopPush() { stop(); }

void DesktopPush::start() { client_.start(); }

void DesktopPush::stop() { client_.stop(); }

std::optional<std::string> DesktopPush::deviceToken() const { return client_.deviceToken(); }

bool DesktopPush::isConnected() const { return client_.isConnected(); }

void DesktopPush::didReceive(const platform::Value& userInfo) {
  auto delegate = delegate_.lock();
  if (!delegate) return;
  ui::Application& application = ui::Application::shared();
  // The platform keeps the icon badge itself, in every application state.
  if (auto badge = badgeOf(userInfo)) application.setIconBadgeNumber(*badge);
  delegate->didReceiveRemoteNotification(application, userInfo);
}

}  // namespace app
