#include "backend/internal/local_id_manager.hpp"

#include <mutex>

#include "platform/exceptions.hpp"

namespace backend {
namespace {

std::mutex& managerMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<LocalIdManager>& installedManager() {
  static std::shared_ptr<LocalIdManager> manager;
  return manager;
}

}  // namespace

void setLocalIdManager(std::shared_ptr<LocalIdManager> manager) {
  std::lock_guard lock(managerMutex());
  installedManager() = std::move(manager);
}

std::shared_ptr<LocalIdManager> localIdManager() {
  std::lock_guard lock(managerMutex());
  return installedManager();
}

std::shared_ptr<LocalIdManager> requireLocalIdManager() {
  auto manager = localIdManager();
  if (!manager) throw platform::InternalInconsistencyException("No local id manager is installed.");
  return manager;
}

}  // namespace backend
