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
#include "support/manual_clock.hpp"
#include "thread_pool.hpp"

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
  test_support::ManualClock clock;
  EventLoopThread loop("test-timers");
  std::vector<int> order;  // written on the loop thread, read after a barrier
  auto record = [&](int n) { return [&, n] { order.push_back(n); }; };
  auto barrier = [&] { loop.perform([] {}, EventLoopThread::Wait::Yes); };
  Timer late = loop.scheduleTimer(30ms, false, record(3));
  Timer early = loop.scheduleTimer(10ms, false, record(1));
  Timer middle = loop.scheduleTimer(20ms, false, record(2));
  clock.advance(29ms);
  barrier();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  clock.advance(1ms);
  barrier();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(late.isActive());  // a one-shot handle stays active until cancelled

  int ticks = 0;
  Timer repeating = loop.scheduleTimer(5ms, true, [&] { ++ticks; });
  clock.advance(15ms);
  barrier();
  EXPECT_EQ(ticks, 3);
  repeating.cancel();
  EXPECT_FALSE(repeating.isActive());
  clock.advance(50ms);
  barrier();
  EXPECT_EQ(ticks, 3);
}

TEST(EventLoopThread, DestroyedTimerHandleNeverFires) {
  test_support::ManualClock clock;
  EventLoopThread loop("test-cancel");
  bool fired = false;
  { Timer dropped = loop.scheduleTimer(10ms, false, [&] { fired = true; }); }
  clock.advance(10ms);
  loop.perform([] {}, EventLoopThread::Wait::Yes);
  EXPECT_FALSE(fired);
}

TEST(Executor, DelayedWorkWaitsForItsDelayOnTheClock) {
  test_support::ManualClock clock;
  Latch poolRan(1);
  EventLoopThread loop("test-delayed");
  bool loopRan = false;
  backgroundQueue().postDelayed(20ms, [&] { poolRan.countDown(); });
  loop.postDelayed(20ms, [&] { loopRan = true; });
  clock.advance(19ms);
  loop.perform([] {}, EventLoopThread::Wait::Yes);
  EXPECT_FALSE(loopRan);
  EXPECT_EQ(clock.pendingAlarms(), 2u);
  clock.advance(1ms);
  ASSERT_TRUE(poolRan.wait());
  loop.perform([] {}, EventLoopThread::Wait::Yes);
  EXPECT_TRUE(loopRan);
}

// Counts how a posted Runnable ended.
class CountingRunnable final : public Runnable {
 public:
  explicit CountingRunnable(Latch* ran = nullptr) : ran_(ran) {}
  void run() override {
    ++runs;
    if (ran_) ran_->countDown();
  }
  void discard() noexcept override { ++discards; }
  std::atomic<int> runs{0};
  std::atomic<int> discards{0};

 private:
  Latch* ran_;
};

TEST(Runnable, RunsOnceOnThePoolAndThroughTheDefaultWrapper) {
  Latch ran(2);
  CountingRunnable onPool(&ran);
  CountingRunnable onLoop(&ran);
  backgroundQueue().postRunnable(onPool);
  EventLoopThread loop("vv-test-loop");
  loop.postRunnable(onLoop);
  ASSERT_TRUE(ran.wait());
  EXPECT_EQ(onPool.runs.load() + onPool.discards.load(), 1);
  EXPECT_EQ(onLoop.runs.load() + onLoop.discards.load(), 1);
}

// The shared pools stop at exit while timer alarms may still post to them.
TEST(ThreadPool, AStoppedPoolTakesLatePostsWithoutRunningThem) {
  CountingRunnable late;
  std::atomic<bool> lateWorkRan{false};
  {
    ThreadPool pool("vv-test-stop", 2, ThreadPool::Priority::Default);
    Latch ran(1);
    pool.post([&] { ran.countDown(); });
    ASSERT_TRUE(ran.wait());
    pool.stop();
    std::thread poster([&] {
      pool.post([&] { lateWorkRan = true; });
      pool.postRunnable(late);
    });
    poster.join();
  }
  EXPECT_FALSE(lateWorkRan);
  EXPECT_EQ(late.runs.load(), 0);
  EXPECT_EQ(late.discards.load(), 1);
}

TEST(Runnable, QueuedWorkDroppedAtShutdownIsDiscardedNotLost) {
  std::vector<std::unique_ptr<CountingRunnable>> pieces;
  for (int i = 0; i < 4; ++i) pieces.push_back(std::make_unique<CountingRunnable>());
  bool held = false;
  {
    ThreadPool pool("vv-test-pool", 1, ThreadPool::Priority::Default);
    Latch blocking(1);
    Latch release(1);
    // Holds the pool's only thread while the pieces queue behind it, then
    // lets it go as the pool is destroyed: each piece either runs before the
    // pool stops or is dropped with it, and none may be lost or run twice.
    pool.post([&] {
      blocking.countDown();
      release.wait();
    });
    held = blocking.wait();
    for (auto& piece : pieces) pool.postRunnable(*piece);
    release.countDown();
  }
  EXPECT_TRUE(held);
  for (auto& piece : pieces) EXPECT_EQ(piece->runs.load() + piece->discards.load(), 1);
}

}  // namespace
}  // namespace platform
