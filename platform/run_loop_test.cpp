#include "platform/run_loop.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/manual_clock.hpp"

namespace platform {
namespace {

using namespace std::chrono_literals;

TEST(RunLoop, RunsPostedWorkInOrderAndStops) {
  RunLoop loop;
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) loop.post([&, i] { order.push_back(i); });
  loop.post([&] { loop.stop(); });
  loop.run();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(RunLoop, DelayedWorkRunsInDeadlineOrderAfterItsDelay) {
  test_support::ManualClock clock;
  RunLoop loop;
  std::vector<int> order;
  loop.postDelayed(30ms, [&] { order.push_back(3); });
  loop.postDelayed(10ms, [&] { order.push_back(1); });
  loop.postDelayed(20ms, [&] { order.push_back(2); });
  clock.advance(29ms);
  loop.drain();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  clock.advance(1ms);
  loop.drain();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(RunLoop, DelayedWorkForALoopThatIsGoneIsDropped) {
  test_support::ManualClock clock;
  bool ran = false;
  { RunLoop().postDelayed(10ms, [&] { ran = true; }); }
  clock.advance(10ms);
  EXPECT_FALSE(ran);
}

TEST(RunLoop, RunUntilGivesUpAtItsTimeout) {
  RunLoop loop;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(loop.runUntil([] { return false; }, 50ms));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, 50ms);
  EXPECT_LT(waited, 5s);
}

TEST(RunLoop, SeesWorkPostedFromOtherThreads) {
  RunLoop loop;
  std::atomic<int> count{0};
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([&] {
      for (int i = 0; i < 250; ++i) loop.post([&] { ++count; });
    });
  for (auto& p : posters) p.join();
  EXPECT_TRUE(loop.runUntil([&] { return count == 1000; }, 5s));
}

TEST(RunLoop, ExceptionUnwindsOutOfTheLoopAndKeepsTheRest) {
  RunLoop loop;
  bool laterRan = false;
  loop.post([] { throw std::runtime_error("raised on the main thread"); });
  loop.post([&] { laterRan = true; });
  EXPECT_THROW(loop.runUntil([&] { return laterRan; }, 1s), std::runtime_error);
  EXPECT_TRUE(loop.runUntil([&] { return laterRan; }, 1s));
}

TEST(RunLoop, MainLoopBelongsToTheMainThread) {
  EXPECT_TRUE(isMainThread());
  EXPECT_TRUE(RunLoop::main().runsOnCurrentThread());
  std::thread other([] {
    EXPECT_FALSE(isMainThread());
    EXPECT_FALSE(RunLoop::main().runsOnCurrentThread());
  });
  other.join();
}

}  // namespace
}  // namespace platform
