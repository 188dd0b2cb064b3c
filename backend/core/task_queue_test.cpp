#include "backend/internal/task_queue.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace backend {
namespace {

TEST(TaskQueue, FirstPieceAwaitsAnAlreadySucceededTask) {
  TaskQueue queue;
  bool sawCompleted = false;
  queue.enqueue([&](const Task<void>& awaited) {
    sawCompleted = awaited.isCompleted() && !awaited.isFaulted();
    return awaited;
  });
  EXPECT_TRUE(sawCompleted);
}

TEST(TaskQueue, SerialisesAThousandPiecesInOrderEvenAfterFailures) {
  TaskQueue queue;
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  Task<void> last;
  for (int i = 0; i < 1000; ++i) {
    last = queue.enqueue([&, i](const Task<void>& awaited) {
      return awaited.continueWith([&, i](const Task<void>&) -> Task<void> {
        if (running.fetch_add(1) != 0) overlapped = true;
        order.push_back(i);
        running.fetch_sub(1);
        if (i % 10 == 0) return Task<void>::taskWithError(Error("Backend", i));
        return Task<void>::taskWithResult();
      });
    });
  }
  last.waitUntilFinished();
  EXPECT_FALSE(overlapped.load());
  ASSERT_EQ(order.size(), 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(order[i], i);
}

}  // namespace
}  // namespace backend
