#include "support/manual_clock.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace test_support {
namespace {

using namespace std::chrono_literals;

TEST(ManualClock, IsTheProcessClockWhileItLivesAndMovesOnlyWhenAdvanced) {
  {
    ManualClock clock;
    EXPECT_EQ(&platform::clock(), &clock);
    const auto wall = clock.now();
    const auto steady = clock.steadyNow();
    clock.advance(90s);
    EXPECT_EQ(clock.now() - wall, 90s);
    EXPECT_EQ(clock.steadyNow() - steady, 90s);
    clock.setNow(wall);
    EXPECT_EQ(clock.now(), wall);
    EXPECT_EQ(clock.steadyNow() - steady, 90s);
  }
  EXPECT_EQ(dynamic_cast<ManualClock*>(&platform::clock()), nullptr);
}

TEST(ManualClock, FiresDueAlarmsInDeadlineOrderWithTimeStandingAtEachDeadline) {
  ManualClock clock;
  const auto start = clock.steadyNow();
  std::vector<std::pair<int, platform::SteadyTime::duration>> fired;
  auto record = [&](int id) { return [&, id] { fired.emplace_back(id, clock.steadyNow() - start); }; };
  clock.schedule(start + 30ms, record(3));
  clock.schedule(start + 10ms, [&] {
    fired.emplace_back(1, clock.steadyNow() - start);
    // Scheduled while firing: falls due within the same step.
    clock.schedule(clock.steadyNow() + 5ms, record(2));
  });
  clock.schedule(start + 50ms, record(4));

  clock.advance(9ms);
  EXPECT_TRUE(fired.empty());
  EXPECT_EQ(clock.untilNextAlarm(), 1ms);
  clock.advance(21ms);
  EXPECT_EQ(fired, (std::vector<std::pair<int, platform::SteadyTime::duration>>{{1, 10ms}, {2, 15ms}, {3, 30ms}}));
  EXPECT_EQ(clock.steadyNow() - start, 30ms);
  EXPECT_EQ(clock.pendingAlarms(), 1u);
  EXPECT_TRUE(clock.waitForAlarms(1));
}

}  // namespace
}  // namespace test_support
