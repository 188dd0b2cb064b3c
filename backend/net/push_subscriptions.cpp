// The current installation's channel subscriptions.

#include <algorithm>

#include "backend/installation.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/push.hpp"

namespace backend {
namespace {

bool holds(const std::vector<std::string>& channels, const std::string& channel) {
  return std::find(channels.begin(), channels.end(), channel) != channels.end();
}

}  // namespace

Task<bool> Push::subscribeOrUnsubscribeAsync(std::string_view action, const std::string& channel) {
  if (action != "subscribe" && action != "unsubscribe") return Task<bool>::taskWithResult(false);
  auto installation = Installation::currentInstallation();
  if (!installation->deviceToken()) {
    return Task<bool>::taskWithError(
        InternalUtils::errorWithCode(kErrorPushMisconfigured, "There is no device token stored yet."));
  }
  if (action == "subscribe") {
    if (holds(installation->channels(), channel) && !installation->isDirtyForKey("channels"))
      return Task<bool>::taskWithResult(true);
    installation->addUniqueObject(Value(channel), "channels");
  } else {
    installation->removeObject(Value(channel), "channels");
  }
  return installation->saveAsync();
}

Task<bool> Push::subscribeToChannelAsync(const std::string& channel) {
  return subscribeOrUnsubscribeAsync("subscribe", channel);
}

bool Push::subscribeToChannel(const std::string& channel, std::optional<platform::Error>* error) {
  return subscribeToChannelAsync(channel).waitForResult(error);
}

void Push::subscribeToChannelInBackground(const std::string& channel, BoolCallback callback) {
  subscribeToChannelAsync(channel).thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
}

Task<bool> Push::unsubscribeFromChannelAsync(const std::string& channel) {
  return subscribeOrUnsubscribeAsync("unsubscribe", channel);
}

bool Push::unsubscribeFromChannel(const std::string& channel, std::optional<platform::Error>* error) {
  return unsubscribeFromChannelAsync(channel).waitForResult(error);
}

void Push::unsubscribeFromChannelInBackground(const std::string& channel, BoolCallback callback) {
  unsubscribeFromChannelAsync(channel).thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
}

Task<std::set<std::string>> Push::getSubscribedChannelsAsync() {
  auto installation = Installation::currentInstallation();
  if (!installation->deviceToken()) {
    return Task<std::set<std::string>>::taskWithError(
        InternalUtils::errorWithCode(kErrorPushMisconfigured, "There is no device token stored yet."));
  }
  Task<void> refreshed = installation->objectId()
                             ? installation->fetchAsync().onSuccess([](const Task<ObjectPtr>&) {})
                             : installation->saveAsync().onSuccess([](const Task<bool>&) {});
  return refreshed.onSuccess([installation](const Task<void>&) {
    const auto channels = installation->channels();
    return std::set<std::string>(channels.begin(), channels.end());
  });
}

std::set<std::string> Push::getSubscribedChannels(std::optional<platform::Error>* error) {
  return getSubscribedChannelsAsync().waitForResult(error);
}

void Push::getSubscribedChannelsInBackground(ChannelsCallback callback) {
  getSubscribedChannelsAsync().thenCallBackOnMainThreadAsync(std::move(callback));
}

}  // namespace backend
