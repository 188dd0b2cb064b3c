#pragma once
// The shell's backend client for tests that need no service: the application
// id configures the real client, the channels (each once) and the device
// token are only recorded.

#include <algorithm>
#include <string>
#include <vector>

#include "app/services.hpp"
#include "backend/net/backend.hpp"

namespace app::testing {

class RecordingBackend final : public BackendClient {
 public:
  void setApplicationId(const std::string& applicationId, const std::string& clientKey) override {
    applicationId_ = applicationId;
    backend::net::Backend::setApplicationId(applicationId, clientKey);
  }
  void subscribeCurrentInstallation(const std::string& channel) override {
    if (std::find(channels_.begin(), channels_.end(), channel) == channels_.end()) channels_.push_back(channel);
  }
  void setDeviceTokenOnCurrentInstallation(const std::string& tokenText) override { deviceToken_ = tokenText; }

  const std::string& applicationId() const { return applicationId_; }
  const std::vector<std::string>& channels() const { return channels_; }
  const std::string& deviceToken() const { return deviceToken_; }

 private:
  std::string applicationId_;
  std::vector<std::string> channels_;
  std::string deviceToken_;
};

}  // namespace app::testing
