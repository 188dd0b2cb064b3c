// Geo points: ranges, distances, their typed form and the current position.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>

#include "backend/geo_point.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/value_types.hpp"
#include "platform/run_loop.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

using namespace std::chrono_literals;
using platform::InvalidArgumentException;
using testing::raisedMessage;

TEST(GeoPointTest, CoordinatesMustLieInTheirHalfOpenRanges) {
  EXPECT_NO_THROW(GeoPoint::geoPointWithLatitude(-90.0, -180.0));
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] { GeoPoint::geoPointWithLatitude(90.0, 0); }),
            "latitude out of range (expect [-90.0, 90.0): 90.000000");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] { GeoPoint::geoPointWithLatitude(0, 180.0); }),
            "longitude out of range (expect [-180.0, 180.0): 180.000000");
  EXPECT_FALSE(raisedMessage<InvalidArgumentException>([] { GeoPoint::geoPointWithLatitude(-90.5, 0); }).empty());
  EXPECT_FALSE(raisedMessage<InvalidArgumentException>([] { GeoPoint::geoPointWithLatitude(NAN, 0); }).empty());
  auto point = GeoPoint::geoPointWithLatitude(1, 2);
  EXPECT_THROW(point->setLongitude(-181), InvalidArgumentException);
  EXPECT_EQ(point->longitude(), 2.0);
}

TEST(GeoPointTest, DistancesOnTheSphere) {
  auto origin = GeoPoint::geoPoint();
  auto quarter = GeoPoint::geoPointWithLatitude(0, 90);
  EXPECT_DOUBLE_EQ(origin->distanceInRadiansTo(*quarter), std::numbers::pi / 2);
  EXPECT_NEAR(origin->distanceInMilesTo(*quarter), 6218.47, 0.005);
  EXPECT_NEAR(origin->distanceInKilometersTo(*quarter), 10007.54, 0.005);
  // Antipodes: rounding may push the haversine term past 1.
  EXPECT_DOUBLE_EQ(GeoPoint::geoPointWithLatitude(-45, -90)->distanceInRadiansTo(*GeoPoint::geoPointWithLatitude(45, 90)),
                   std::numbers::pi);
  EXPECT_EQ(origin->distanceInRadiansTo(*origin), 0.0);
}

class GeoPointCodecTest : public testing::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    registerValueTypes();
  }
  void TearDown() override {
    platform::setLocationProvider(nullptr);
    BackendTest::TearDown();
  }
};

TEST_F(GeoPointCodecTest, TypedFormRoundTripsAndMistypedMembersAreRefused) {
  auto point = GeoPoint::geoPointWithLatitude(60.39, 5.32);
  const Value typed = InternalUtils::encodeObject(Value(point), UnsavedChildren::Disallow, DataObjects::Allow);
  EXPECT_EQ(typed, InternalUtils::parseJSON(R"({"__type": "GeoPoint", "latitude": 60.39, "longitude": 5.32})"));
  auto decoded = InternalUtils::decodeObject(typed).object<GeoPoint>();
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->isEqual(*point));

  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] {
              InternalUtils::decodeObject(
                  InternalUtils::parseJSON(R"({"__type": "GeoPoint", "latitude": "60", "longitude": 5})"));
            }),
            "invalid latitude type passed: String");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] {
              GeoPoint::geoPointWithDictionary(platform::Dictionary{{"latitude", Value(1)}});
            }),
            "invalid longitude type passed: nil");
}

TEST_F(GeoPointCodecTest, PointsAreFieldValuesWatchedForChangesInPlace) {
  auto place = Object::objectWithoutData("Place", "p1");
  place->mergeAfterFetch(InternalUtils::decodeObject(InternalUtils::parseJSON(
                             R"({"data": {"at": {"__type": "GeoPoint", "latitude": 1, "longitude": 2}}})")),
                         Completeness::Complete);
  EXPECT_FALSE(place->isDirty());
  auto at = place->objectForKey("at").object<GeoPoint>();
  ASSERT_TRUE(at);
  at->setLatitude(3);
  EXPECT_TRUE(place->isDirtyForKey("at"));
}

TEST_F(GeoPointCodecTest, CurrentLocationComesFromTheProviderOnTheMainQueue) {
  GeoPointPtr answered;
  std::optional<platform::Error> failure;
  bool called = false;
  auto ask = [&] {
    called = false;
    GeoPoint::geoPointForCurrentLocationInBackground([&](const GeoPointPtr& point, const std::optional<platform::Error>& error) {
      answered = point;
      failure = error;
      called = true;
    });
    ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return called; }, 30s));
  };

  ask();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->code, platform::kLocationUnavailable);
  EXPECT_EQ(answered->latitude(), 0.0);

  platform::setLocationProvider([](platform::LocationCallback callback) { callback(platform::Location{59.9, 10.7}, std::nullopt); });
  ask();
  EXPECT_FALSE(failure);
  EXPECT_EQ(answered->latitude(), 59.9);
  EXPECT_EQ(answered->longitude(), 10.7);
}

}  // namespace
}  // namespace backend
