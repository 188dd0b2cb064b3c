#include "backend/geo_point.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "backend/internal/internal_utils.hpp"
#include "backend/location_manager.hpp"
#include "platform/exceptions.hpp"

namespace backend {
namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;

std::string formatted(const char* format, double value) {
  char text[128];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

double coordinate(const platform::Dictionary& dictionary, const char* key, const char* message) {
  const Value value = dictionary.get(key);
  if (!value.isNumber()) throw platform::InvalidArgumentException(message + InternalUtils::className(value));
  return value.doubleValue();
}

}  // namespace

GeoPointPtr GeoPoint::geoPoint() { return std::make_shared<GeoPoint>(); }

GeoPointPtr GeoPoint::geoPointWithLatitude(double latitude, double longitude) {
  auto point = geoPoint();
  point->setLatitude(latitude);
  point->setLongitude(longitude);
  return point;
}

GeoPointPtr GeoPoint::geoPointWithLocation(const std::optional<platform::Location>& location) {
  if (!location) return geoPoint();
  return geoPointWithLatitude(location->latitude, location->longitude);
}

GeoPointPtr GeoPoint::geoPointWithDictionary(const platform::Dictionary& dictionary) {
  const double latitude = coordinate(dictionary, "latitude", "invalid latitude type passed: ");
  const double longitude = coordinate(dictionary, "longitude", "invalid longitude type passed: ");
  return geoPointWithLatitude(latitude, longitude);
}

void GeoPoint::geoPointForCurrentLocationInBackground(PointCallback callback) {
  LocationManager::shared().currentLocation(
      [callback = std::move(callback)](const std::optional<platform::Location>& location,
                                       const std::optional<platform::Error>& error) {
        if (callback) callback(geoPointWithLocation(location), error);
      });
}

Value GeoPoint::encodeIntoDictionary() const {
  platform::Dictionary typed;
  typed.reserve(3);
  typed.append("__type", Value("GeoPoint"));
  typed.append("latitude", Value(latitude()));
  typed.append("longitude", Value(longitude()));
  return Value(std::move(typed));
}

void GeoPoint::setLatitude(double latitude) {
  // Written so that NaN fails too.
  if (!(latitude >= -90.0 && latitude < 90.0))
    throw platform::InvalidArgumentException(formatted("latitude out of range (expect [-90.0, 90.0): %f", latitude));
  latitude_.store(latitude, std::memory_order_relaxed);
}

void GeoPoint::setLongitude(double longitude) {
  if (!(longitude >= -180.0 && longitude < 180.0))
    throw platform::InvalidArgumentException(
        formatted("longitude out of range (expect [-180.0, 180.0): %f", longitude));
  longitude_.store(longitude, std::memory_order_relaxed);
}

double GeoPoint::distanceInRadiansTo(const GeoPoint& other) const {
  const double lat1 = latitude() * kRadiansPerDegree, lat2 = other.latitude() * kRadiansPerDegree;
  const double lon1 = longitude() * kRadiansPerDegree, lon2 = other.longitude() * kRadiansPerDegree;
  const double halfLat = std::sin((lat1 - lat2) / 2), halfLon = std::sin((lon1 - lon2) / 2);
  const double a = halfLat * halfLat + std::cos(lat1) * std::cos(lat2) * halfLon * halfLon;
  return 2 * std::asin(std::sqrt(std::min(1.0, a)));
}

double GeoPoint::distanceInMilesTo(const GeoPoint& other) const {
  return distanceInRadiansTo(other) * kEarthRadiusMiles;
}

double GeoPoint::distanceInKilometersTo(const GeoPoint& other) const {
  return distanceInRadiansTo(other) * kEarthRadiusKilometers;
}

GeoPointPtr GeoPoint::copy() const {
  auto point = geoPoint();
  point->latitude_.store(latitude(), std::memory_order_relaxed);
  point->longitude_.store(longitude(), std::memory_order_relaxed);
  return point;
}

bool GeoPoint::isEqual(const platform::SharedObject& other) const {
  auto* point = dynamic_cast<const GeoPoint*>(&other);
  return point && point->latitude() == latitude() && point->longitude() == longitude();
}

std::string GeoPoint::description() const {
  char text[96];
  std::snprintf(text, sizeof text, "<GeoPoint: latitude=%f, longitude=%f>", latitude(), longitude());
  return text;
}

}  // namespace backend
