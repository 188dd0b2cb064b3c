#pragma once
// Push notifications on the desktop: the platform's push client (registered
// with the local services' push gateway) wired to the application delegate,
// as the phone platform does it. The token goes to the delegate's
// did-register path (provider request, installation); each payload sets the
// application's icon badge from "aps"."badge" and goes to the delegate's
// push handling, which reads the application state: active shows the
// "Les mer" alert, background opens the article at once.
//
// How the program wires it (main thread, after the launch):
//
//   platform::ui::Application::shared().launch(options);   // delegate set
//   app::DesktopPush push(delegate);                        // the AppDelegate
//   push.start();
//   ... run the main loop ...
//
// Keep it alive while the main loop runs; its destructor stops the listener
// thread. The badge is in Application::shared().iconBadgeNumber() (the
// window shows it in its title).

#include <memory>
#include <optional>
#include <string>

#include "platform/push_gateway_client.hpp"
#include "platform/value.hpp"

namespace app {

class AppDelegate;

class DesktopPush {
 public:
  // Not owning: once the delegate is gone, tokens and payloads are dropped.
  explicit DesktopPush(std::weak_ptr<AppDelegate> delegate,
                       platform::PushGatewayClient::Options options = platform::PushGatewayClient::Options{});
  ~DesktopPush();
  DesktopPush(const DesktopPush&) = delete;
  DesktopPush& operator=(const DesktopPush&) = delete;

  // Registers and starts listening; every call into the delegate happens on
  // the main queue. No effect while running or once stopped.
  void start();
  // Ends the listener; nothing reaches the delegate afterwards. Idempotent.
  void stop();

  // The device token in lower-case hex once registered.
  std::optional<std::string> deviceToken() const;
  // True while the push stream is open.
  bool isConnected() const;

 private:
  void didReceive(const platform::Value& userInfo);

  std::weak_ptr<AppDelegate> delegate_;
  platform::PushGatewayClient client_;
};

}  // namespace app
