// Sending pushes through the backend's "client_push" command.

#include "backend/push.hpp"

#include <algorithm>

#include "backend/internal/internal_utils.hpp"
#include "backend/internal/object_save_hooks.hpp"
#include "backend/net/command_runners.hpp"
#include "platform/exceptions.hpp"

namespace backend {
namespace {

std::string encodedJSON(const Value& value) {
  return InternalUtils::encodeToJSON(value, UnsavedChildren::Disallow, DataObjects::Allow);
}

Value messagePayload(const std::string& message) { return Value::dictionary({{"alert", Value(message)}}); }

void checkPushableQuery(const Query& query) {
  if (query.order()) throw platform::InvalidArgumentException("cannot push to an ordered query");
  if (query.limit() != -1) throw platform::InvalidArgumentException("cannot push to a limit query");
  if (query.skip() != 0) throw platform::InvalidArgumentException("cannot push to an skip query");
}

}  // namespace

PushPtr Push::push() { return PushPtr(new Push()); }

void Push::setChannel(const std::string& channel) { setChannels({channel}); }

void Push::setChannels(const std::vector<std::string>& channels) {
  channels_.clear();
  for (const auto& channel : channels) {
    if (std::find(channels_.begin(), channels_.end(), channel) == channels_.end()) channels_.push_back(channel);
  }
}

void Push::setQuery(QueryPtr query) { query_ = std::move(query); }
void Push::setMessage(const std::string& message) { data_ = messagePayload(message); }
void Push::setData(const Value& data) { data_ = data; }

void Push::expireAtDate(platform::Date date) {
  expirationDate_ = date;
  expirationInterval_.reset();
}

void Push::expireAfterTimeInterval(double seconds) {
  expirationInterval_ = seconds;
  expirationDate_.reset();
}

void Push::clearExpiration() {
  expirationDate_.reset();
  expirationInterval_.reset();
}

void Push::setPushToIOS(bool enabled) { pushToIOS_ = enabled; }
void Push::setPushToAndroid(bool enabled) { pushToAndroid_ = enabled; }

net::CommandPtr Push::createSendCommand() const {
  platform::Dictionary params;
  if (query_) {
    checkPushableQuery(*query_);
    params.set("where", query_->constructFindParams()["data"]);
  } else {
    if (channels_.empty()) {
      params.set("channel", "");
    } else {
      platform::Array names;
      for (const auto& channel : channels_) names.push_back(Value(channel));
      params.set("channels", encodedJSON(Value(std::move(names))));
    }
    if (!pushToIOS_ && !pushToAndroid_)
      throw platform::InvalidArgumentException("cannot push if both pushToIOS and pushToAndroid are false");
    if (pushToIOS_ != pushToAndroid_) params.set("type", pushToIOS_ ? "ios" : "android");
  }
  if (expirationDate_) {
    params.set("expiration_time", expirationDate_->timeIntervalSince1970());
  } else if (expirationInterval_) {
    params.set("expiration_time_interval", *expirationInterval_);
  }
  params.set("data", encodedJSON(data_.isNil() ? Value::emptyDictionary() : data_));
  return net::Command::commandWithServerOperation("client_push", Value(std::move(params)), currentSessionToken());
}

Task<bool> Push::run(const net::CommandPtr& command) {
  return net::NetworkCommandRunner::runCommandAsync(command).onSuccess(
      [](const Task<net::CommandResult>&) { return true; });
}

Task<bool> Push::sendAsync() const { return run(createSendCommand()); }

bool Push::sendPush(std::optional<platform::Error>* error) const { return sendAsync().waitForResult(error); }

void Push::sendPushInBackground(BoolCallback callback) const {
  sendAsync().thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
}

Task<bool> Push::sendAsync(const std::string& channel, const Value& data) {
  auto params = Value::dictionary({{"data", Value(encodedJSON(data))}, {"channel", Value(channel)}});
  return run(net::Command::commandWithServerOperation("client_push", params, currentSessionToken()));
}

Task<bool> Push::sendAsync(const std::string& channel, const std::string& message) {
  return sendAsync(channel, messagePayload(message));
}

// ---- Conveniences ---------------------------------------------------------

namespace {

PushPtr toChannel(const std::string& channel, const Value& data) {
  auto push = Push::push();
  push->setChannel(channel);
  push->setData(data);
  return push;
}

PushPtr toQuery(QueryPtr query, const Value& data) {
  auto push = Push::push();
  push->setQuery(std::move(query));
  push->setData(data);
  return push;
}

}  // namespace

bool Push::sendPushMessageToChannel(const std::string& channel, const std::string& message,
                                    std::optional<platform::Error>* error) {
  return toChannel(channel, messagePayload(message))->sendPush(error);
}

void Push::sendPushMessageToChannelInBackground(const std::string& channel, const std::string& message,
                                                BoolCallback callback) {
  toChannel(channel, messagePayload(message))->sendPushInBackground(std::move(callback));
}

bool Push::sendPushMessageToQuery(QueryPtr query, const std::string& message, std::optional<platform::Error>* error) {
  return toQuery(std::move(query), messagePayload(message))->sendPush(error);
}

void Push::sendPushMessageToQueryInBackground(QueryPtr query, const std::string& message, BoolCallback callback) {
  toQuery(std::move(query), messagePayload(message))->sendPushInBackground(std::move(callback));
}

bool Push::sendPushDataToChannel(const std::string& channel, const Value& data, std::optional<platform::Error>* error) {
  return toChannel(channel, data)->sendPush(error);
}

void Push::sendPushDataToChannelInBackground(const std::string& channel, const Value& data, BoolCallback callback) {
  toChannel(channel, data)->sendPushInBackground(std::move(callback));
}

bool Push::sendPushDataToQuery(QueryPtr query, const Value& data, std::optional<platform::Error>* error) {
  return toQuery(std::move(query), data)->sendPush(error);
}

void Push::sendPushDataToQueryInBackground(QueryPtr query, const Value& data, BoolCallback callback) {
  toQuery(std::move(query), data)->sendPushInBackground(std::move(callback));
}

}  // namespace backend
