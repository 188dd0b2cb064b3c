#include "app/reachability.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/notification_center.hpp"
#include "platform/run_loop.hpp"

namespace app {
namespace {

using platform::ReachabilityFlag;
using platform::ReachabilityFlags;
using platform::ReachabilityTarget;

class ReachabilityTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::setReachabilitySource(&source); }
  void TearDown() override { platform::setReachabilitySource(nullptr); }

  std::shared_ptr<Reachability> internetWith(ReachabilityFlags flags) {
    source.setFlags(ReachabilityTarget::internet(), flags);
    return Reachability::reachabilityForInternetConnection();
  }

  platform::ManualReachabilitySource source;
};

TEST_F(ReachabilityTest, TransientConnectionThatNeedsAConnectionIsNotReachable) {
  auto monitor = internetWith(ReachabilityFlag::Reachable | ReachabilityFlag::TransientConnection |
                              ReachabilityFlag::ConnectionRequired);
  EXPECT_FALSE(monitor->isReachable());
  EXPECT_EQ(monitor->currentReachabilityStatus(), ReachabilityStatus::None);
  EXPECT_EQ(monitor->currentReachabilityString(), "No Connection");
}

TEST_F(ReachabilityTest, CellularRouteCountsOnlyWhenAllowed) {
  auto monitor = internetWith(ReachabilityFlag::Reachable | ReachabilityFlag::IsWWAN);
  EXPECT_TRUE(monitor->reachableOnWWAN());
  EXPECT_EQ(monitor->currentReachabilityStatus(), ReachabilityStatus::Cellular);
  EXPECT_EQ(monitor->currentReachabilityString(), "Cellular");
  monitor->setReachableOnWWAN(false);
  EXPECT_FALSE(monitor->isReachable());
  EXPECT_EQ(monitor->currentReachabilityStatus(), ReachabilityStatus::None);
  EXPECT_TRUE(monitor->isReachableViaWWAN());
  EXPECT_FALSE(monitor->isReachableViaWiFi());
}

TEST_F(ReachabilityTest, WiFiWhenReachableOffTheCellularInterface) {
  auto monitor = internetWith(ReachabilityFlag::Reachable | ReachabilityFlag::IsDirect);
  EXPECT_EQ(monitor->currentReachabilityStatus(), ReachabilityStatus::WiFi);
  EXPECT_EQ(monitor->currentReachabilityString(), "WiFi");
  EXPECT_TRUE(monitor->isReachableViaWiFi());
}

TEST_F(ReachabilityTest, ConnectionRequirementQueries) {
  auto monitor = internetWith(ReachabilityFlag::ConnectionRequired | ReachabilityFlag::ConnectionOnTraffic);
  EXPECT_TRUE(monitor->isConnectionRequired());
  EXPECT_TRUE(monitor->isConnectionOnDemand());
  EXPECT_FALSE(monitor->isInterventionRequired());
  source.setFlags(ReachabilityTarget::internet(), ReachabilityFlag::InterventionRequired);
  EXPECT_FALSE(monitor->isInterventionRequired());
  EXPECT_FALSE(monitor->isConnectionOnDemand());
  source.setFlags(ReachabilityTarget::internet(),
                  ReachabilityFlag::InterventionRequired | ReachabilityFlag::ConnectionRequired);
  EXPECT_TRUE(monitor->isInterventionRequired());
}

TEST_F(ReachabilityTest, FlagsText) {
  auto monitor = internetWith(ReachabilityFlag::Reachable | ReachabilityFlag::IsWWAN);
  EXPECT_EQ(monitor->currentReachabilityFlags(), "WR -------");
  source.setFlags(ReachabilityTarget::internet(), ReachabilityFlags());
  EXPECT_EQ(monitor->currentReachabilityFlags(), "-- -------");
  EXPECT_EQ(Reachability::flagsText(ReachabilityFlags(0xffffffffu)), "WR ctiCDld");
}

TEST_F(ReachabilityTest, UnreadableFlagsAnswerNothing) {
  auto monitor = internetWith(ReachabilityFlag::Reachable);
  source.setReadable(false);
  EXPECT_EQ(monitor->reachabilityFlags(), ReachabilityFlags());
  EXPECT_FALSE(monitor->isReachable());
  EXPECT_EQ(monitor->currentReachabilityStatus(), ReachabilityStatus::None);
}

TEST_F(ReachabilityTest, TargetsThatCannotBeWatchedGiveNoMonitor) {
  EXPECT_EQ(Reachability::reachabilityWithHostname(""), nullptr);
  EXPECT_EQ(Reachability::reachabilityWithAddress("not-an-address"), nullptr);
  EXPECT_NE(Reachability::reachabilityWithHostName("www.vestavind.test"), nullptr);
  EXPECT_NE(Reachability::reachabilityForLocalWiFi(), nullptr);
}

TEST_F(ReachabilityTest, ChangesRunTheMatchingBlockThenNotifyOnTheMainQueue) {
  auto monitor = internetWith(ReachabilityFlag::Reachable);
  std::atomic<int> reachable{0}, unreachable{0};
  monitor->setReachableBlock([&](Reachability&) { ++reachable; });
  monitor->setUnreachableBlock([&](Reachability&) { ++unreachable; });
  std::vector<const platform::SharedObject*> notified;
  platform::ScopedObserver observer(
      platform::NotificationCenter::defaultCenter(),
      platform::NotificationCenter::defaultCenter().addObserver(
          std::string(kReachabilityChangedNotification),
          [&](const platform::Notification& note) { notified.push_back(note.object.get()); }));

  ASSERT_TRUE(monitor->startNotifier());
  EXPECT_FALSE(monitor->startNotifier());
  source.setFlags(ReachabilityTarget::internet(), ReachabilityFlag::ConnectionRequired);
  ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return notified.size() == 1; }, std::chrono::seconds(10)));
  source.setFlags(ReachabilityTarget::internet(), ReachabilityFlag::Reachable);
  ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return notified.size() == 2; }, std::chrono::seconds(10)));
  EXPECT_EQ(unreachable, 1);
  EXPECT_EQ(reachable, 1);
  EXPECT_EQ(notified[0], monitor.get());

  monitor->stopNotifier();
  source.setFlags(ReachabilityTarget::internet(), ReachabilityFlag::ConnectionRequired);
  platform::RunLoop::main().drain();
  EXPECT_EQ(unreachable, 1);
}

TEST_F(ReachabilityTest, NotifyingMonitorKeepsItselfAliveUntilStopped) {
  auto monitor = internetWith(ReachabilityFlag::Reachable);
  std::weak_ptr<Reachability> weak = monitor;
  ASSERT_TRUE(monitor->startNotifier());
  monitor.reset();
  ASSERT_FALSE(weak.expired());
  weak.lock()->stopNotifier();
  EXPECT_TRUE(weak.expired());
}

TEST_F(ReachabilityTest, FailedStartLeavesNothingBehind) {
  auto monitor = internetWith(ReachabilityFlag::Reachable);
  std::weak_ptr<Reachability> weak = monitor;
  source.setStartable(false);
  EXPECT_FALSE(monitor->startNotifier());
  monitor.reset();
  EXPECT_TRUE(weak.expired());
}

}  // namespace
}  // namespace app
