#pragma once
// The shell's backend client: the real client configuration and the
// backend's current installation, saved in the background after each change.

#include <string>

#include "app/services.hpp"

namespace app {

class BackendInstallation final : public BackendClient {
 public:
  void setApplicationId(const std::string& applicationId, const std::string& clientKey) override;
  void subscribeCurrentInstallation(const std::string& channel) override;
  void setDeviceTokenOnCurrentInstallation(const std::string& tokenText) override;
};

}  // namespace app
