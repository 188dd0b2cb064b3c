#include "backend/internal/client_configuration.hpp"

#include <mutex>

#include "platform/exceptions.hpp"

namespace backend {
namespace {

struct Configuration {
  std::mutex mutex;
  std::optional<std::string> applicationId;
  std::optional<std::string> clientKey;
};

Configuration& configuration() {
  static Configuration instance;
  return instance;
}

[[noreturn]] void raiseNotConfigured() {
  throw platform::InternalInconsistencyException(
      "You have to call setApplicationId:clientKey: on Backend to configure Backend.");
}

}  // namespace

void ClientConfiguration::store(std::string_view applicationId, std::string_view clientKey) {
  auto& config = configuration();
  std::lock_guard lock(config.mutex);
  config.applicationId = std::string(applicationId);
  config.clientKey = std::string(clientKey);
}

void ClientConfiguration::reset() {
  auto& config = configuration();
  std::lock_guard lock(config.mutex);
  config.applicationId.reset();
  config.clientKey.reset();
}

bool ClientConfiguration::isConfigured() {
  auto& config = configuration();
  std::lock_guard lock(config.mutex);
  return config.applicationId.has_value();
}

std::string ClientConfiguration::applicationId() {
  auto& config = configuration();
  std::lock_guard lock(config.mutex);
  if (!config.applicationId) raiseNotConfigured();
  return *config.applicationId;
}

std::string ClientConfiguration::clientKey() {
  auto& config = configuration();
  std::lock_guard lock(config.mutex);
  if (!config.clientKey) raiseNotConfigured();
  return *config.clientKey;
}

}  // namespace backend
