#pragma once
// The device's position. A desktop has no location service of its own, so
// the process installs a provider (a fixed position, a test's stand-in);
// without one every request fails with "Location services are not available."

#include <functional>
#include <optional>

#include "platform/error.hpp"

namespace platform {

struct Location {
  double latitude = 0;   // degrees
  double longitude = 0;  // degrees
};

// The error domain of location failures.
inline constexpr const char* kLocationErrorDomain = "Location";
// The code of "Location services are not available."
inline constexpr long kLocationUnavailable = 1;

// Answers one request for the current position: exactly one call of the
// callback, with a location or with an error, on any thread.
using LocationCallback = std::function<void(const std::optional<Location>&, const std::optional<Error>&)>;
using LocationProvider = std::function<void(LocationCallback)>;

// Installs the provider (nullptr removes it). Thread-safe.
void setLocationProvider(LocationProvider provider);
// Asks the installed provider once; without one the callback is called at
// once with the kLocationUnavailable error.
void requestCurrentLocation(LocationCallback callback);

}  // namespace platform
