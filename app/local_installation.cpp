#include "app/local_installation.hpp"

#include <algorithm>

#include "backend/net/backend.hpp"
#include "platform/log.hpp"

namespace app {

void LocalInstallation::setApplicationId(const std::string& applicationId, const std::string& clientKey) {
  applicationId_ = applicationId;
  backend::net::Backend::setApplicationId(applicationId, clientKey);
}

void LocalInstallation::subscribeCurrentInstallation(const std::string& channel) {
  if (std::find(channels_.begin(), channels_.end(), channel) == channels_.end()) channels_.push_back(channel);
  platform::log("Installation (kept locally, not saved to the backend): channel " + channel);
}

void LocalInstallation::setDeviceTokenOnCurrentInstallation(const std::string& tokenText) {
  deviceToken_ = tokenText;
  platform::log("Installation (kept locally, not saved to the backend): device token " + tokenText);
}

}  // namespace app
