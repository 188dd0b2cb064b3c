#pragma once
// Push notifications: sending them through the backend (to channels, to the
// installations a query finds, to one platform), the current installation's
// channel subscriptions, the device token, and showing a push that arrives
// while the application is in the foreground.
//
// Sending runs one "client_push" command, without retries; its task answers
// true once the service accepted it. Callback forms call back on the main
// queue; blocking forms wait on the calling thread and hand the error to the
// optional out-parameter.

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "backend/net/command.hpp"
#include "backend/query.hpp"
#include "backend/task.hpp"
#include "platform/date.hpp"
#include "platform/error.hpp"
#include "platform/value.hpp"

namespace backend {

class Push;
using PushPtr = std::shared_ptr<Push>;

class Push {
 public:
  using BoolCallback = std::function<void(bool succeeded, const std::optional<platform::Error>& error)>;
  using ChannelsCallback =
      std::function<void(const std::set<std::string>& channels, const std::optional<platform::Error>& error)>;

  // A new push to every device of both platforms, with no payload.
  static PushPtr push();

  void setChannel(const std::string& channel);
  void setChannels(const std::vector<std::string>& channels);
  // The installations to reach; replaces channels and platform choice.
  void setQuery(QueryPtr query);
  // The payload {"alert": message}.
  void setMessage(const std::string& message);
  // The payload; a dictionary, data objects allowed once saved.
  void setData(const Value& data);
  void expireAtDate(platform::Date date);
  void expireAfterTimeInterval(double seconds);
  void clearExpiration();
  void setPushToIOS(bool enabled);
  void setPushToAndroid(bool enabled);

  // The "client_push" command of this push. Raises InvalidArgumentException
  // "cannot push to an ordered query", "cannot push to a limit query",
  // "cannot push to an skip query", and "cannot push if both pushToIOS and
  // pushToAndroid are false".
  net::CommandPtr createSendCommand() const;
  Task<bool> sendAsync() const;
  bool sendPush(std::optional<platform::Error>* error = nullptr) const;
  void sendPushInBackground(BoolCallback callback = nullptr) const;

  // Build a push and send it.
  static bool sendPushMessageToChannel(const std::string& channel, const std::string& message,
                                       std::optional<platform::Error>* error = nullptr);
  static void sendPushMessageToChannelInBackground(const std::string& channel, const std::string& message,
                                                   BoolCallback callback = nullptr);
  static bool sendPushMessageToQuery(QueryPtr query, const std::string& message,
                                     std::optional<platform::Error>* error = nullptr);
  static void sendPushMessageToQueryInBackground(QueryPtr query, const std::string& message,
                                                 BoolCallback callback = nullptr);
  static bool sendPushDataToChannel(const std::string& channel, const Value& data,
                                    std::optional<platform::Error>* error = nullptr);
  static void sendPushDataToChannelInBackground(const std::string& channel, const Value& data,
                                                BoolCallback callback = nullptr);
  static bool sendPushDataToQuery(QueryPtr query, const Value& data, std::optional<platform::Error>* error = nullptr);
  static void sendPushDataToQueryInBackground(QueryPtr query, const Value& data, BoolCallback callback = nullptr);
  // The direct channel push: {"channel", "data"} only.
  static Task<bool> sendAsync(const std::string& channel, const Value& data);
  static Task<bool> sendAsync(const std::string& channel, const std::string& message);

  // Subscriptions of the current installation. Without a device token they
  // fail with code 115 "There is no device token stored yet.". Subscribing
  // to a channel already saved succeeds without a request.
  static Task<bool> subscribeToChannelAsync(const std::string& channel);
  static bool subscribeToChannel(const std::string& channel, std::optional<platform::Error>* error = nullptr);
  static void subscribeToChannelInBackground(const std::string& channel, BoolCallback callback = nullptr);
  static Task<bool> unsubscribeFromChannelAsync(const std::string& channel);
  static bool unsubscribeFromChannel(const std::string& channel, std::optional<platform::Error>* error = nullptr);
  static void unsubscribeFromChannelInBackground(const std::string& channel, BoolCallback callback = nullptr);
  // "subscribe" or "unsubscribe"; any other word answers false.
  static Task<bool> subscribeOrUnsubscribeAsync(std::string_view action, const std::string& channel);
  // The channels after fetching (or, when never saved, saving) the current
  // installation.
  static Task<std::set<std::string>> getSubscribedChannelsAsync();
  static std::set<std::string> getSubscribedChannels(std::optional<platform::Error>* error = nullptr);
  static void getSubscribedChannelsInBackground(ChannelsCallback callback);

  // Text stays as it is; bytes become lower-case hex digits.
  static std::string convertDeviceTokenToString(const Value& token);
  // Sets the token on the current installation and keeps it in the keychain,
  // so that a launch after a failed save still has it to send.
  static void storeDeviceToken(const Value& token);
  static bool storeDeviceTokenOnKeychain(const std::string& token);
  static std::optional<std::string> getDeviceTokenFromKeychain();
  // Forgets the token in the keychain and on the current installation.
  static void clearDeviceToken();

  // Shows a push received while the application is active (main thread):
  // "aps"."alert" as a one-button alert titled with the application's name,
  // "aps"."badge" on the icon, "aps"."sound" from the resources or else the
  // vibration. Does nothing in any other application state.
  static void handlePush(const Value& userInfo);

 private:
  Push() = default;
  static Task<bool> run(const net::CommandPtr& command);

  bool pushToIOS_ = true;
  bool pushToAndroid_ = true;
  std::vector<std::string> channels_;
  QueryPtr query_;
  std::optional<platform::Date> expirationDate_;
  std::optional<double> expirationInterval_;
  Value data_;
};

}  // namespace backend
