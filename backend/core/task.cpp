#include "backend/task.hpp"

#include <atomic>

#include "platform/log.hpp"

namespace backend {

__attribute__((noinline)) void warnBackendOperationOnMainThread() {
  platform::log(
      "Warning: A long-running backend operation is being executed on the main thread. \n"
      " Break on warnBackendOperationOnMainThread() to debug.");
}

Task<void> whenAll(const std::vector<AnyTask>& tasks) {
  if (tasks.empty()) return Task<void>::taskWithResult();
  TaskCompletionSource<void> all;
  auto remaining = std::make_shared<std::atomic<std::size_t>>(tasks.size());
  for (const auto& task : tasks) {
    // Counting needs no background hop: it is a decrement at completion.
    task.whenCompleted([remaining, all] {
      if (remaining->fetch_sub(1, std::memory_order_acq_rel) == 1) {
        detail::runCompletionStep([all] { all.trySetResult(); });
      }
    });
  }
  return all.task();
}

Task<void> delay(long long milliseconds) {
  TaskCompletionSource<void> done;
  platform::backgroundQueue().postDelayed(std::chrono::milliseconds(milliseconds), [done] { done.trySetResult(); });
  return done.task();
}

}  // namespace backend
