#include "backend/internal/object_transport.hpp"

#include <mutex>

#include "platform/exceptions.hpp"

namespace backend {
namespace {

std::mutex& transportMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<ObjectTransport>& installedTransport() {
  static std::shared_ptr<ObjectTransport> transport;
  return transport;
}

}  // namespace

void setObjectTransport(std::shared_ptr<ObjectTransport> transport) {
  std::lock_guard lock(transportMutex());
  installedTransport() = std::move(transport);
}

std::shared_ptr<ObjectTransport> requireObjectTransport() {
  std::lock_guard lock(transportMutex());
  if (!installedTransport())
    throw platform::InternalInconsistencyException(
        "You have to call setApplicationId:clientKey: on Backend to configure Backend.");
  return installedTransport();
}

}  // namespace backend
