#pragma once
// Chains work so that each piece starts only after every earlier piece has
// finished, however it ended. Data objects keep one per object.

#include <mutex>
#include <optional>
#include <utility>

#include "backend/task.hpp"

namespace backend {

class TaskQueue {
 public:
  // Calls `block` at once, under the queue's mutex, with the task to await
  // (an already succeeded task for the first piece). The block must only
  // chain its work behind that task and return the task of the work; it must
  // not wait. Answers the block's task.
  template <class F>
  auto enqueue(F&& block) -> std::invoke_result_t<F, Task<void>> {
    std::lock_guard lock(mutex_);
    return enqueueLocked(std::forward<F>(block));
  }

  // enqueue for a caller that already holds mutex() (work queued on several
  // objects at once).
  template <class F>
  auto enqueueLocked(F&& block) -> std::invoke_result_t<F, Task<void>> {
    Task<void> awaited = tail_ ? *tail_ : Task<void>::taskWithResult();
    auto work = block(awaited);
    tail_ = whenAll({awaited, work});
    return work;
  }

  // Holds the queue's mutex: enqueueing on several objects takes their
  // queues in address order (Object::enqueueForObjects).
  std::mutex& mutex() noexcept { return mutex_; }

 private:
  std::mutex mutex_;
  std::optional<Task<void>> tail_;
};

}  // namespace backend
