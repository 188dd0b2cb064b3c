#include "platform/memory_watch.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "platform/application_notifications.hpp"
#include "platform/notification_center.hpp"
#include "support/eventually.hpp"
#include "support/manual_clock.hpp"

namespace platform {
namespace {

class MemoryWatchTest : public ::testing::Test {
 protected:
  MemoryWatchTest() {
    auto& center = NotificationCenter::defaultCenter();
    observer_ = ScopedObserver(center, center.addObserver(kApplicationDidReceiveMemoryWarningNotification,
                                                          [this](const Notification&) { ++warnings_; }));
  }
  test_support::ManualClock clock_;
  std::atomic<std::size_t> resident_{100};
  std::atomic<int> warnings_{0};
  ScopedObserver observer_;
};

TEST_F(MemoryWatchTest, WarnsOncePerRiseAboveTheLimit) {
  MemoryWatch watch(1000, std::chrono::seconds(5), [this] { return resident_.load(); });
  EXPECT_FALSE(watch.check());
  resident_ = 2000;
  EXPECT_TRUE(watch.check());
  EXPECT_FALSE(watch.check());  // still above: no new warning
  resident_ = 500;
  EXPECT_FALSE(watch.check());
  resident_ = 1001;
  EXPECT_TRUE(watch.check());
  EXPECT_EQ(warnings_, 2);
}

TEST_F(MemoryWatchTest, SamplesOnTheClockUntilItGoes) {
  auto watch = std::make_unique<MemoryWatch>(1000, std::chrono::seconds(5), [this] { return resident_.load(); });
  resident_ = 2000;
  clock_.advance(std::chrono::seconds(5));
  ASSERT_TRUE(test_support::eventually([&] { return warnings_ == 1; }));
  ASSERT_TRUE(clock_.waitForAlarms(1));  // the next sample is due in turn
  resident_ = 10;
  clock_.advance(std::chrono::seconds(5));
  ASSERT_TRUE(clock_.waitForAlarms(1));
  watch.reset();
  resident_ = 2000;
  clock_.advance(std::chrono::seconds(5));
  EXPECT_EQ(warnings_, 1);
  EXPECT_GT(residentBytes(), 0u);
}

}  // namespace
}  // namespace platform
