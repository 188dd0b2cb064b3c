#include "tracker_impl.hpp"

#include <gtest/gtest.h>

#include "analytics/fields.hpp"
#include "platform/log.hpp"
#include "request_builder.hpp"
#include "support/manual_clock.hpp"

namespace analytics {
namespace {

using platform::Value;

// Keeps what the tracker hands over, in place of the dispatcher.
class CollectingSender final : public DispatchSender {
 public:
  void queueModel(TrackerModel model) override { models.push_back(std::move(model)); }
  void queueDispatch(ParameterMap parameters) override { maps.push_back(std::move(parameters)); }
  std::string clientId() override { return "5e2d5a6c-1f7e-4c3b-9d7e-0a1b2c3d4e5f"; }
  std::vector<TrackerModel> models;
  std::vector<ParameterMap> maps;
};

class TrackerTest : public ::testing::Test {
 protected:
  test_support::ManualClock clock;
  std::shared_ptr<CollectingSender> sender = std::make_shared<CollectingSender>();
  TrackerImpl tracker{sender, "AN-318264-9"};
};

TEST_F(TrackerTest, SixtyHitsPassAtOnceThenOnePerTwoSeconds) {
  ParameterMap hit{{"&t", Value("appview")}};
  for (int i = 0; i < 60; ++i) tracker.send(hit);
  EXPECT_EQ(sender->models.size(), 60u);
  platform::LogCapture log;
  tracker.send(hit);
  EXPECT_EQ(sender->models.size(), 60u);
  clock.advance(std::chrono::seconds(2));
  tracker.send(hit);
  tracker.send(hit);
  EXPECT_EQ(sender->models.size(), 61u);
  // Transactions and items neither wait for nor spend credits.
  tracker.send({{"&t", Value("transaction")}});
  tracker.send({{"&t", Value("item")}});
  EXPECT_EQ(sender->models.size(), 63u);
}

TEST_F(TrackerTest, BuiltHitHoldsEveryRequiredAndForcedField) {
  tracker.anSet(kTrackingIdField, Value("AN-318264-9"));
  tracker.send({{"&t", Value("appview")}, {"&cd", Value("Frontpage")}});
  ASSERT_EQ(sender->models.size(), 1u);
  auto built = sender->models[0].buildDictionary();
  for (const char* key : {"&t", "&cd", "&tid", "&cid", "&sr", "&ul", "&an", "anVersion", "&v", "&_v", "&_u", "&z"}) {
    EXPECT_TRUE(built.contains(key)) << key;
  }
  EXPECT_EQ(built.get("&v"), Value("1"));
  EXPECT_EQ(built.get("&_v"), Value("mi2.0.1b"));
  EXPECT_EQ(built.get("&cid"), Value(sender->clientId()));
  EXPECT_EQ(built.get("anVersion"), Value("2.01b"));
}

TEST_F(TrackerTest, NullMarkerOverrideLeavesTheStandingValueOffTheWire) {
  tracker.set("&sc", Value("start"));
  tracker.set("&cd", Value("Frontpage"));
  tracker.send({{"&t", Value("appview")}, {"&sc", Value::null()}});
  auto built = sender->models.at(0).buildDictionary();
  EXPECT_TRUE(built.get("&sc").isNull());
  auto line = RequestBuilder("ua").parametersForHit(HitRecord{platform::Date(1000), built, std::nullopt});
  EXPECT_EQ(line.find("sc="), std::string::npos) << line;
  EXPECT_NE(line.find("cd=Frontpage"), std::string::npos) << line;
  // Standing values survive from one hit to the next.
  EXPECT_EQ(tracker.get("&sc"), "start");
  tracker.send({{"&t", Value("appview")}});
  EXPECT_EQ(sender->models.at(1).buildDictionary().get("&sc"), Value("start"));
}

TEST_F(TrackerTest, MissingHitTypeWarnsButStillSends) {
  platform::LogCapture log;
  tracker.send({});
  EXPECT_TRUE(log.contains("Bad or missing hit type."));
  EXPECT_EQ(sender->models.size(), 1u);
}

TEST(TrackerModel, CacheBustersFollowEachOther) {
  auto first = std::stoull(TrackerModel::cacheBuster());
  auto second = std::stoull(TrackerModel::cacheBuster());
  EXPECT_EQ(second, first + 1);
}

TEST(TrackerModel, OverridesAndDerivedValues) {
  TrackerModel model([] { return std::string("cid-1"); });
  EXPECT_EQ(model.get("&cid"), Value("cid-1"));
  model.set(std::string("&ul"), Value("se"));
  EXPECT_EQ(model.get("&ul"), Value("se"));
  auto copy = model.copyWithOverride({{"&ul", Value::null()}});
  EXPECT_TRUE(copy.get("&ul").isNull());
  EXPECT_EQ(model.get("&ul"), Value("se"));
  EXPECT_TRUE(TrackerImpl::create(nullptr, "x") == nullptr);
}

}  // namespace
}  // namespace analytics
