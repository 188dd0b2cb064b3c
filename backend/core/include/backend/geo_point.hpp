#pragma once
// A latitude/longitude pair in degrees with great-circle distances. Mutable,
// like the other field containers; reads and writes of each coordinate are
// atomic, so a point may be encoded on one thread while set on another.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/error.hpp"
#include "platform/location.hpp"
#include "platform/value.hpp"

namespace backend {

class GeoPoint;
using GeoPointPtr = std::shared_ptr<GeoPoint>;

class GeoPoint : public platform::SharedObject {
 public:
  static constexpr double kEarthRadiusMiles = 3958.8;
  static constexpr double kEarthRadiusKilometers = 6371.0;

  GeoPoint() = default;

  // (0, 0).
  static GeoPointPtr geoPoint();
  // Raises as setLatitude and setLongitude.
  static GeoPointPtr geoPointWithLatitude(double latitude, double longitude);
  // The coordinate of a location; (0, 0) for none.
  static GeoPointPtr geoPointWithLocation(const std::optional<platform::Location>& location);
  // From {"latitude": number, "longitude": number}. Raises
  // InvalidArgumentException "invalid latitude type passed: <class>" (and the
  // longitude form) when a member is not a number, and the range errors.
  static GeoPointPtr geoPointWithDictionary(const platform::Dictionary& dictionary);
  // Asks the shared location manager for the device position; the callback
  // runs on the main queue with the point (of no location: (0, 0)) and the
  // error the location service reported.
  using PointCallback = std::function<void(const GeoPointPtr& point, const std::optional<platform::Error>& error)>;
  static void geoPointForCurrentLocationInBackground(PointCallback callback);

  // {"__type": "GeoPoint", "latitude": double, "longitude": double}.
  platform::Value encodeIntoDictionary() const;

  // Raises InvalidArgumentException "latitude out of range (expect [-90.0,
  // 90.0): <value>" unless -90 <= value < 90.
  void setLatitude(double latitude);
  // Raises "longitude out of range (expect [-180.0, 180.0): <value>" unless
  // -180 <= value < 180.
  void setLongitude(double longitude);
  double latitude() const noexcept { return latitude_.load(std::memory_order_relaxed); }
  double longitude() const noexcept { return longitude_.load(std::memory_order_relaxed); }

  // Haversine distance on the unit sphere, and scaled to the earth's radius.
  double distanceInRadiansTo(const GeoPoint& other) const;
  double distanceInMilesTo(const GeoPoint& other) const;
  double distanceInKilometersTo(const GeoPoint& other) const;

  GeoPointPtr copy() const;
  bool isEqual(const platform::SharedObject& other) const override;
  std::string description() const override;

 private:
  std::atomic<double> latitude_{0};
  std::atomic<double> longitude_{0};
};

}  // namespace backend
