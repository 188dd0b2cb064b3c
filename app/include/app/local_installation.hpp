#pragma once
// The backend client as far as it exists: the application id and client key
// configure the real client; the current installation is a stand-in until
// the installation and push client exists — it keeps the channels (each
// once) and the device token in memory and logs each change, and nothing of
// it reaches the backend service.

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
