#include "platform/clock.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/date.hpp"
#include "support/manual_clock.hpp"

namespace platform {
namespace {

using namespace std::chrono_literals;

TEST(Clock, AnInstalledClockDrivesDateNowUntilRemoved) {
  {
    test_support::ManualClock fixed(WallTime(std::chrono::seconds(1000)));
    EXPECT_EQ(Date::now(), Date(1000));
  }
  EXPECT_GT(Date::now().timeIntervalSince1970(), 1.6e9);
}

TEST(Clock, TheSystemClockFiresAlarmsInDeadlineOrderOnceDue) {
  std::mutex mutex;
  std::condition_variable fired;
  std::vector<int> order;
  const SteadyTime start = clock().steadyNow();
  auto record = [&](int n) {
    return [&, n] {
      std::lock_guard lock(mutex);
      order.push_back(n);
      EXPECT_GE(clock().steadyNow(), start + n * 1ms);
      fired.notify_all();
    };
  };
  clock().schedule(start + 3ms, record(3));
  clock().schedule(start + 1ms, record(1));
  clock().schedule(start + 2ms, record(2));
  std::unique_lock lock(mutex);
  ASSERT_TRUE(fired.wait_for(lock, 20s, [&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

}  // namespace
}  // namespace platform
