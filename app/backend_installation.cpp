#include "app/backend_installation.hpp"

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

void BackendInstallation::setApplicationId(const std::string& applicationId, const std::string& clientKey) {
  backend::net::Backend::setApplicationId(applicationId, clientKey);
}

void BackendInstallation::subscribeCurrentInstallation(const std::string& channel) {
  auto installation = backend::Installation::currentInstallation();
  installation->addUniqueObject(platform::Value(channel), "channels");
  saveInBackground(installation);
}

void BackendInstallation::setDeviceTokenOnCurrentInstallation(const std::string& tokenText) {
  backend::Push::storeDeviceToken(platform::Value(tokenText));
  saveInBackground(backend::Installation::currentInstallation());
}

}  // namespace app
