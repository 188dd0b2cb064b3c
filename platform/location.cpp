#include "platform/location.hpp"

#include <mutex>

namespace platform {
namespace {

std::mutex providerMutex;
LocationProvider installedProvider;

}  // namespace

void setLocationProvider(LocationProvider provider) {
  std::lock_guard lock(providerMutex);
  installedProvider = std::move(provider);
}

void requestCurrentLocation(LocationCallback callback) {
  LocationProvider provider;
  {
    std::lock_guard lock(providerMutex);
    provider = installedProvider;
  }
  if (!provider) {
    callback(std::nullopt, makeError(kLocationErrorDomain, kLocationUnavailable, "Location services are not available."));
    return;
  }
  provider(std::move(callback));
}

}  // namespace platform
