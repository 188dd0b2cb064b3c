#pragma once
// The shell's stand-in for the backend client's current installation until
// the installation and push client exists: it keeps the application id, the
// channels (each once) and the device token in memory and logs each change.
// Nothing reaches the backend service.

#include <string>
#include <vector>

#include "app/services.hpp"

namespace app {

class LocalInstallation final : public BackendClient {
 public:
  void setApplicationId(const std::string& applicationId, const std::string& clientKey) override;
  void subscribeCurrentInstallation(const std::string& channel) override;
  void setDeviceTokenOnCurrentInstallation(const std::string& tokenText) override;

  const std::string& applicationId() const { return applicationId_; }
  const std::vector<std::string>& channels() const { return channels_; }
  const std::string& deviceToken() const { return deviceToken_; }

 private:
  std::string applicationId_;
  std::vector<std::string> channels_;
  std::string deviceToken_;
};

}  // namespace app
