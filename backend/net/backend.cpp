#include "backend/net/backend.hpp"

#include <atomic>
#include <mutex>
#include <vector>

#include "backend/field_operation.hpp"
#include "backend/internal/client_configuration.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/net/command_cache.hpp"
#include "backend/net/disk_local_id_manager.hpp"
#include "backend/net/key_value_cache.hpp"
#include "backend/user.hpp"
#include "backend/value_types.hpp"
#include "command_object_transport.hpp"
#include "command_query_transport.hpp"
#include "file_support.hpp"

namespace backend::net {
namespace {

std::atomic<bool> offlineMessages{false};
std::atomic<bool> errorMessages{false};
std::mutex hooksMutex;
std::vector<std::function<void()>> configurationHooks;

}  // namespace

void Backend::setApplicationId(std::string_view applicationId, std::string_view clientKey) {
  ClientConfiguration::store(applicationId, clientKey);
  InternalUtils::setMainCacheClearer([] { KeyValueCache::mainCache().removeAllObjects(); });
  InternalUtils::checkCacheApplicationId();
  FieldOperation::registerDefaultDecoders();
  registerValueTypes();
  installObjectTransport();
  installFileSupport();
  installQueryTransport();
  installUsers();
  DiskLocalIdManager::installDefaultInstance();
  // Created here rather than later on a background queue, so that it binds
  // to the private directory of this configuration.
  CommandCache::defaultInstance();
  std::vector<std::function<void()>> hooks;
  {
    std::lock_guard lock(hooksMutex);
    hooks = configurationHooks;
  }
  for (auto& hook : hooks) hook();
}

std::string Backend::getApplicationId() { return ClientConfiguration::applicationId(); }
std::string Backend::getClientKey() { return ClientConfiguration::clientKey(); }
void Backend::offlineMessagesEnabled(bool enabled) { offlineMessages = enabled; }
void Backend::errorMessagesEnabled(bool enabled) { errorMessages = enabled; }
bool Backend::usesOfflineMessages() { return offlineMessages; }
bool Backend::usesErrorMessages() { return errorMessages; }

void Backend::addConfigurationHook(std::function<void()> hook) {
  std::lock_guard lock(hooksMutex);
  configurationHooks.push_back(std::move(hook));
}

}  // namespace backend::net
