#pragma once
// The hosted-service clients the shell talks to, reached through one
// process-wide table (tests put their own instances in it).

#include <memory>
#include <string>

#include "analytics/analytics.hpp"

namespace app {

// The backend client as the shell uses it: configuration and the current
// installation. Called on the main thread; the saves run in the background
// and report nothing back.
class BackendClient {
 public:
  virtual ~BackendClient() = default;
  virtual void setApplicationId(const std::string& applicationId, const std::string& clientKey) = 0;
  // Adds `channel` to the current installation's "channels" unless it is
  // there already, then saves the installation in the background.
  virtual void subscribeCurrentInstallation(const std::string& channel) = 0;
  // Sets the current installation's device token (lower-case hex text) and
  // saves it in the background.
  virtual void setDeviceTokenOnCurrentInstallation(const std::string& tokenText) = 0;
};

struct Services {
  // Not owned; null means the shared instance (created on first use, so the
  // program configures it first).
  analytics::Analytics* analytics = nullptr;
  // Null: the backend calls are skipped (with a log line).
  std::shared_ptr<BackendClient> backend;

  // The table in force. Main thread.
  static Services& shared();
  static analytics::Analytics& analyticsClient();
  // The analytics client's default tracker, or null.
  static std::shared_ptr<analytics::Tracker> defaultTracker();
};

}  // namespace app
