#include "app/backend_installation.hpp"

#include <future>

#include "backend/installation.hpp"
#include "backend/net/backend.hpp"
#include "backend/push.hpp"
#include "platform/log.hpp"

namespace app {
namespace {

void logFailedSave(bool saved, const std::optional<platform::Error>& error) {
  if (!saved) platform::log("Installation not saved: " + (error ? error->message() : std::string("unknown error")));
}

}  // namespace

void BackendInstallation::saveInBackground(const backend::InstallationPtr& installation) {
  // Start-up never waits for the save; its outcome is only logged.
  backend::Task<bool> saving = installation->saveAsync();
  saving.thenCallBackOnMainThreadWithBoolValueAsync(logFailedSave);
  std::lock_guard lock(saveMutex_);
  lastSave_ = std::move(saving);
}

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
  enqueue("Channel subscription", [this, channel] {
    auto installation = backend::Installation::currentInstallation();
    installation->addUniqueObject(platform::Value(channel), "channels");
    saveInBackground(installation);
  });
}

void BackendInstallation::setDeviceTokenOnCurrentInstallation(const std::string& tokenText) {
  enqueue("Device token", [this, tokenText] {
    backend::Push::storeDeviceToken(platform::Value(tokenText));
    saveInBackground(backend::Installation::currentInstallation());
  });
}

void BackendInstallation::finish(std::chrono::milliseconds saveLimit) {
  std::promise<void> drained;
  queue_.post([&drained] { drained.set_value(); });
  drained.get_future().wait();
  std::optional<backend::Task<bool>> save;
  {
    std::lock_guard lock(saveMutex_);
    save = lastSave_;
  }
  if (!save) return;
  // Saves of the one installation run one after another, so the last one ends last.
  auto ended = std::make_shared<std::promise<void>>();
  std::future<void> saved = ended->get_future();
  save->continueWith([ended](const backend::Task<bool>&) { ended->set_value(); });
  saved.wait_for(saveLimit);
}

}  // namespace app
