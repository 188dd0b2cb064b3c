#pragma once
// The client's door to the device position: one request at a time to the
// platform's location provider, answered on the main queue.

#include <functional>
#include <optional>

#include "platform/error.hpp"
#include "platform/location.hpp"

namespace backend {

class LocationManager {
 public:
  using Callback = std::function<void(const std::optional<platform::Location>&, const std::optional<platform::Error>&)>;

  // The process-wide instance, created on first use.
  static LocationManager& shared();

  // Asks for the current position; `callback` runs once on the main queue
  // with the position, or with nothing and the provider's error.
  void currentLocation(Callback callback);

 private:
  LocationManager() = default;
};

}  // namespace backend
