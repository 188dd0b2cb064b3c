#include "platform/executor.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/event_loop_thread.hpp"
#include "platform/serial_queue.hpp"

namespace platform {
namespace {

using namespace std::chrono_literals;

// Waits for a counter to reach a value, with a generous cap.
class Latch {
 public:
  explicit Latch(int count) : count_(count) {}
  void countDown() {
    std::lock_guard lock(mutex_);
    if (--count_ == 0) done_.notify_all();
  }
  bool wait(std::chrono::seconds cap = 10s) {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, cap, [&] { return count_ <= 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  int count_;
};

TEST(BackgroundQueue, RunsWorkOnItsOwnThreadsConcurrently) {
  Latch bothStarted(2);
  Latch finished(2);
  std::atomic<bool> onPool{true};
  for (int i = 0; i < 2; ++i) {
    backgroundQueue().post([&] {
      onPool = onPool && backgroundQueue().runsOnCurrentThread() && !isMainThread();
      bothStarted.countDown();
      bothStarted.wait();  // deadlocks unless two pool threads run at once
      finished.countDown();
    });
  }
  ASSERT_TRUE(finished.wait());
  EXPECT_TRUE(onPool);
}

TEST(SerialQueue, NeverOverlapsAndKeepsOrder) {
  SerialQueue queue;
  std::vector<int> order;
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  Latch done(1000);
  for (int i = 0; i < 1000; ++i) {
    queue.post([&, i] {
      if (inside.fetch_add(1) != 0) overlapped = true;
      order.push_back(i);
      inside.fetch_sub(1);
      done.countDown();
    });
  }
  ASSERT_TRUE(done.wait());
  EXPECT_FALSE(overlapped);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(order[i], i);
}

TEST(EventLoopThread, PerformWaitsRunsInlineOnItsThreadAndRethrows) {
  EventLoopThread loop("test-loop");
  std::thread::id ranOn;
  loop.perform([&] { ranOn = std::this_thread::get_id(); }, EventLoopThread::Wait::Yes);
  EXPECT_NE(ranOn, std::this_thread::get_id());
  bool nestedRanInline = false;
  loop.perform(
      [&] {
        loop.perform([&] { nestedRanInline = true; }, EventLoopThread::Wait::Yes);
        EXPECT_TRUE(nestedRanInline);
      },
      EventLoopThread::Wait::Yes);
  EXPECT_THROW(loop.perform([] { throw std::runtime_error("x"); }, EventLoopThread::Wait::Yes), std::runtime_error);
}

TEST(EventLoopThread, TimersFireInDeadlineOrderAndRepeatUntilCancelled) {
  EventLoopThread loop("test-timers");
  std::mutex mutex;
  std::vector<int> order;
  Latch fired(3);
  auto record = [&](int n) {
    return [&, n] {
      std::lock_guard lock(mutex);
      order.push_back(n);
      fired.countDown();
    };
  };
  // Scheduled from the loop thread so the three deadlines are taken at
  // nearly the same instant however slow the machine is.
  Timer late, early, middle;
  loop.perform(
      [&] {
        late = loop.scheduleTimer(40ms, false, record(3));
        early = loop.scheduleTimer(10ms, false, record(1));
        middle = loop.scheduleTimer(25ms, false, record(2));
      },
      EventLoopThread::Wait::Yes);
  ASSERT_TRUE(fired.wait());
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

  std::atomic<int> ticks{0};
  Latch threeTicks(3);
  Timer repeating = loop.scheduleTimer(5ms, true, [&] {
    ++ticks;
    threeTicks.countDown();
  });
  ASSERT_TRUE(threeTicks.wait());
  repeating.cancel();
  loop.perform([] {}, EventLoopThread::Wait::Yes);  // the cancel has reached the loop
  int afterCancel = ticks.load();
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(ticks.load(), afterCancel);
}

TEST(EventLoopThread, DestroyedTimerHandleNeverFires) {
  EventLoopThread loop("test-cancel");
  std::atomic<bool> fired{false};
  { Timer dropped = loop.scheduleTimer(10ms, false, [&] { fired = true; }); }
  std::this_thread::sleep_for(40ms);
  EXPECT_FALSE(fired);
}

TEST(Executor, PostDelayedOnThePoolWaitsAtLeastTheDelay) {
  Latch done(1);
  auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration waited{};
  backgroundQueue().postDelayed(20ms, [&] {
    waited = std::chrono::steady_clock::now() - start;
    done.countDown();
  });
  ASSERT_TRUE(done.wait());
  EXPECT_GE(waited, 20ms);
}

}  // namespace
}  // namespace platform
