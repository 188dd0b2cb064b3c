#include "http/connection_workers.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "support/eventually.hpp"

namespace devserver {
namespace {

using test_support::eventually;

// Tasks that stand for open connections: each holds its thread until released.
struct HeldTasks {
  std::atomic<int> running{0};
  std::atomic<int> finished{0};
  std::atomic<bool> released{false};

  std::function<void()> task() {
    return [this] {
      ++running;
      released.wait(false);
      ++finished;
    };
  }
};

void release(HeldTasks& held) {
  held.released = true;
  held.released.notify_all();
}

TEST(ConnectionWorkers, EveryHeldConnectionGetsItsOwnThreadUpToTheCap) {
  HeldTasks held;
  ConnectionWorkers workers(64);
  for (int i = 0; i < 40; ++i) workers.enqueue(held.task());
  // A fixed pool smaller than 40 would leave some waiting behind the held ones.
  EXPECT_TRUE(eventually([&] { return held.running == 40; }));
  release(held);
  workers.shutdown();
  EXPECT_EQ(held.finished, 40);
}

TEST(ConnectionWorkers, BeyondTheCapTasksWaitForAThreadAndIdleThreadsAreReused) {
  HeldTasks held;
  ConnectionWorkers workers(2);
  for (int i = 0; i < 5; ++i) workers.enqueue(held.task());
  ASSERT_TRUE(eventually([&] { return held.running == 2; }));
  EXPECT_EQ(workers.threadCount(), 2u);
  release(held);
  EXPECT_TRUE(eventually([&] { return held.finished == 5; }));
  std::atomic<int> later{0};
  for (int i = 0; i < 2; ++i) workers.enqueue([&] { ++later; });
  EXPECT_TRUE(eventually([&] { return later == 2; }));
  EXPECT_EQ(workers.threadCount(), 2u);
}

TEST(ConnectionWorkers, ShutdownRunsWaitingTasksThenJoins) {
  HeldTasks held;
  std::atomic<int> ran{0};
  ConnectionWorkers workers(1);
  workers.enqueue(held.task());
  // The one thread is held, so these are still waiting when the shutdown begins.
  for (int i = 0; i < 4; ++i) workers.enqueue([&] { ++ran; });
  ASSERT_TRUE(eventually([&] { return held.running == 1; }));
  EXPECT_EQ(ran, 0);
  release(held);
  workers.shutdown();
  EXPECT_EQ(held.finished, 1);
  EXPECT_EQ(ran, 4);
}

}  // namespace
}  // namespace devserver
