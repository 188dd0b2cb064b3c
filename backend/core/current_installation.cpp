// The current installation: one per process, kept in the data file
// "currentInstallation" between runs.

#include <cctype>
#include <mutex>

#include "backend/installation.hpp"
#include "backend/internal/internal_utils.hpp"
#include "platform/exceptions.hpp"

namespace backend {
namespace {

std::mutex currentMutex;
InstallationPtr current;
// Whether memory already reflects the data file.
bool matchesDisk = false;

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

InstallationPtr storedInstallation() {
  return std::dynamic_pointer_cast<Installation>(Object::objectFromDataFile(kCurrentInstallationDataFile));
}

std::optional<std::string> keychainToken() {
  const Value token = InternalUtils::loadFromKeychain(kDeviceTokenKeychainItem);
  return token.isString() && !token.string()->empty() ? std::optional<std::string>(*token.string()) : std::nullopt;
}

InstallationPtr newInstallation(const std::string& installationId, const InstallationPtr& previous) {
  auto installation = std::dynamic_pointer_cast<Installation>(Object::objectWithClassName(Installation::backendClassName()));
  if (!installation) {
    throw platform::InternalInconsistencyException(
        "The class backend::Installation must be registered with registerSubclass before using Backend");
  }
  installation->setDeviceType("ios");
  installation->setInstallationId(installationId);
  std::optional<std::string> token = previous ? previous->deviceToken() : std::nullopt;
  if (!token) token = keychainToken();
  if (token) installation->setDeviceToken(*token);
  return installation;
}

}  // namespace

InstallationPtr Installation::currentInstallation() {
  std::lock_guard lock(currentMutex);
  if (current) return current;
  InstallationPtr stored;
  if (!matchesDisk) {
    stored = storedInstallation();
    matchesDisk = true;
  }
  const std::string installationId = lowerCase(InternalUtils::installationId());
  if (stored && stored->installationId() == installationId) {
    current = stored;
    const auto token = keychainToken();
    if (token && current->deviceToken() != token) current->setDeviceToken(*token);
  } else {
    // No file, or one of another installation id: its token carries over.
    current = newInstallation(installationId, stored);
  }
  return current;
}

void Installation::clearCurrentInstallationInMemory() {
  std::lock_guard lock(currentMutex);
  current.reset();
  matchesDisk = false;
}

void Installation::clearCurrentInstallation() {
  std::lock_guard lock(currentMutex);
  current.reset();
  matchesDisk = false;
  Object::deleteDataFile(kCurrentInstallationDataFile);
}

void Installation::saveCurrentInstallation(const InstallationPtr& installation) {
  std::lock_guard lock(currentMutex);
  installation->serializeToDataFile(kCurrentInstallationDataFile);
  matchesDisk = true;
}

void Installation::persistIfCurrent() {
  InstallationPtr self = std::static_pointer_cast<Installation>(shared_from_this());
  std::lock_guard lock(currentMutex);
  // Another installation object (one fetched by a query, say) must not
  // overwrite this device's file.
  if (current != self) return;
  serializeToDataFile(kCurrentInstallationDataFile);
  matchesDisk = true;
}

}  // namespace backend
