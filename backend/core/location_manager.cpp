#include "backend/location_manager.hpp"

#include "platform/executor.hpp"

namespace backend {

LocationManager& LocationManager::shared() {
  static LocationManager instance;
  return instance;
}

void LocationManager::currentLocation(Callback callback) {
  platform::requestCurrentLocation(
      [callback = std::move(callback)](const std::optional<platform::Location>& location,
                                       const std::optional<platform::Error>& error) {
        platform::mainQueue().post([callback, location, error] { callback(location, error); });
      });
}

}  // namespace backend
