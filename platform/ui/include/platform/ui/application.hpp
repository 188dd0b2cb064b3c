#pragma once
// The application object: lifecycle state and its delegate, the icon badge,
// remote-notification registration and delivery, the key window.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.hpp"
#include "platform/memory_watch.hpp"
#include "platform/value.hpp"

namespace platform::ui {

class Application;
class Window;

enum class ApplicationState { Active, Inactive, Background };

enum RemoteNotificationType : unsigned {
  kRemoteNotificationTypeNone = 0,
  kRemoteNotificationTypeBadge = 1 << 0,
  kRemoteNotificationTypeSound = 1 << 1,
  kRemoteNotificationTypeAlert = 1 << 2,
};

// The launch-options key under which the payload of a push that launched
// the app is given.
inline constexpr const char* kLaunchOptionsRemoteNotificationKey = "LaunchOptionsRemoteNotificationKey";

// Called on the main thread. The application owns its delegate.
class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  // `launchOptions` is a dictionary or nil.
  virtual bool didFinishLaunching(Application& application, const Value& launchOptions) { return true; }
  virtual void applicationWillResignActive(Application& application) {}
  virtual void applicationDidEnterBackground(Application& application) {}
  virtual void applicationWillEnterForeground(Application& application) {}
  virtual void applicationDidBecomeActive(Application& application) {}
  virtual void applicationWillTerminate(Application& application) {}
  virtual void didRegisterForRemoteNotifications(Application& application, const std::vector<std::uint8_t>& deviceToken) {}
  virtual void didFailToRegisterForRemoteNotifications(Application& application, const Error& error) {}
  virtual void didReceiveRemoteNotification(Application& application, const Value& userInfo) {}
};

class Application {
 public:
  // The single instance; main thread.
  static Application& shared();

  std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_; }
  void setDelegate(std::shared_ptr<ApplicationDelegate> delegate) { delegate_ = std::move(delegate); }

  // Launches: state inactive, didFinishLaunching with the options, then
  // active (applicationDidBecomeActive). Answers the delegate's result.
  bool launch(const Value& launchOptions = Value());

  ApplicationState state() const { return state_; }
  // Moves to `state`, telling the delegate each step on the way (active and
  // background pass through inactive). No effect when already there.
  void setState(ApplicationState state);
  // The process is about to end: applicationWillTerminate.
  void terminate();

  // The badge is the platform's (platform/application_services.hpp), so the
  // backend client may read it from any thread.
  int iconBadgeNumber() const;
  void setIconBadgeNumber(int number);
  bool isNetworkActivityIndicatorVisible() const { return networkIndicator_; }
  void setNetworkActivityIndicatorVisible(bool visible) { networkIndicator_ = visible; }

  // Asks for a device token for the notification types. The platform's
  // answer arrives later through deliverDeviceToken / deliverRegistrationError.
  void registerForRemoteNotificationTypes(unsigned types);
  unsigned registeredNotificationTypes() const { return registeredTypes_; }
  int registrationRequestCount() const { return registrationRequests_; }

  // The platform side (toolkit, terminal, tests): hand events to the delegate.
  void deliverDeviceToken(const std::vector<std::uint8_t>& token);
  void deliverRegistrationError(const Error& error);
  void deliverRemoteNotification(const Value& userInfo);

  // The key window, or null. Not owning.
  Window* keyWindow() const { return keyWindow_; }
  void setKeyWindow(Window* window);

  // Back to a fresh application without delegate (tests).
  void reset();

 private:
  // Installs the application hooks of the platform layer.
  Application();
  void step(ApplicationState to);

  std::shared_ptr<ApplicationDelegate> delegate_;
  ApplicationState state_ = ApplicationState::Inactive;
  bool networkIndicator_ = false;
  unsigned registeredTypes_ = 0;
  int registrationRequests_ = 0;
  // Started at launch: the memory warning caches listen for.
  std::unique_ptr<MemoryWatch> memoryWatch_;
  Window* keyWindow_ = nullptr;
};

// The platform's description of a byte buffer: "<" + lower-case hex digits
// in groups of four bytes separated by single spaces + ">" ("<>" for none).
std::string describeData(const std::vector<std::uint8_t>& bytes);

}  // namespace platform::ui
