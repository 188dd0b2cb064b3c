#pragma once
// The shell's backend client: the real client configuration and the
// backend's current installation, saved in the background after each change.

#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "app/services.hpp"
#include "backend/installation.hpp"
#include "backend/task.hpp"
#include "platform/serial_queue.hpp"

namespace app {

// Every call is handed to one serial queue and returns at once: the client's
// set-up reads and writes its private directory (the application-id marker,
// the installation id, the installation's data file), which start-up must not
// wait for. The queue keeps the calls in order, so the configuration comes
// before any use of the installation.
class BackendInstallation final : public BackendClient {
 public:
  void setApplicationId(const std::string& applicationId, const std::string& clientKey) override;
  void subscribeCurrentInstallation(const std::string& channel) override;
  void setDeviceTokenOnCurrentInstallation(const std::string& tokenText) override;

  // Blocks until every call made so far has run and the last save they
  // started has ended, waiting at most `saveLimit` for that save: the
  // process should not end under a save that is still writing.
  void finish(std::chrono::milliseconds saveLimit);

 private:
  void enqueue(const char* what, std::function<void()> work);
  void saveInBackground(const backend::InstallationPtr& installation);

  platform::SerialQueue queue_;
  std::mutex saveMutex_;
  std::optional<backend::Task<bool>> lastSave_;
};

}  // namespace app
