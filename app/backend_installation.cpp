#include "app/backend_installation.hpp"

#include <future>

#include "backend/installation.hpp"
#include "backend/net/backend.hpp"
#include "backend/push.hpp"
#include "platform/log.hpp"

namespace app {
namespace {

void saveInBackground(const backend::InstallationPtr& installation) {
  // Start-up never waits for the save; its outcome is only logged.
  installation->saveInBackground([](bool saved, const std::optional<platform::Error>& error) {
    if (!saved) platform::log("Installation not saved: " + (error ? error->message() : std::string("unknown error")));
  });
}

}  // namespace

void BackendInstallation::enqueue(const char* what, std::function<void()> work) {
  queue_.post([what, work = std::move(work)] {
    // Nobody above waits for these calls, so a failure can only be logged.
    try {
      work();
    } catch (const std::exception& exception) {
      platform::log(std::string(what) + " failed: " + exception.what());
    }
  });
}

void BackendInstallation::setApplicationId(const std::string& applicationId, const std::string& clientKey) {
  enqueue("Backend configuration",
          [applicationId, clientKey] { backend::net::Backend::setApplicationId(applicationId, clientKey); });
}

void BackendInstallation::subscribeCurrentInstallation(const std::string& channel) {
  enqueue("Channel subscription", [channel] {
    auto installation = backend::Installation::currentInstallation();
    installation->addUniqueObject(platform::Value(channel), "channels");
    saveInBackground(installation);
  });
}

void BackendInstallation::setDeviceTokenOnCurrentInstallation(const std::string& tokenText) {
  enqueue("Device token", [tokenText] {
    backend::Push::storeDeviceToken(platform::Value(tokenText));
    saveInBackground(backend::Installation::currentInstallation());
  });
}

void BackendInstallation::waitUntilIdle() {
  std::promise<void> done;
  queue_.post([&done] { done.set_value(); });
  done.get_future().wait();
}

}  // namespace app
