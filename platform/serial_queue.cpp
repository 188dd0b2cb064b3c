#include "platform/serial_queue.hpp"

#include <deque>
#include <mutex>
#include <thread>

namespace platform {

// Runs its backlog one piece at a time on the pool: only one drain is ever
// scheduled, and it reschedules itself after each piece so that a long
// backlog does not hold a pool thread.
struct SerialQueue::State : std::enable_shared_from_this<SerialQueue::State> {
  explicit State(Executor& pool) : pool(pool) {}
  Executor& pool;
  std::mutex mutex;
  std::deque<Work> backlog;
  bool draining = false;
  std::thread::id runningThread;

  void schedule() {
    pool.post([self = shared_from_this()] { self->runOne(); });
  }

  void runOne() {
    Work work;
    {
      std::lock_guard lock(mutex);
      work = std::move(backlog.front());
      backlog.pop_front();
      runningThread = std::this_thread::get_id();
    }
    work();
    std::lock_guard lock(mutex);
    runningThread = {};
    if (backlog.empty()) {
      draining = false;
    } else {
      schedule();
    }
  }
};

SerialQueue::SerialQueue(Executor& pool) : state_(std::make_shared<State>(pool)) {}
SerialQueue::~SerialQueue() = default;

void SerialQueue::post(Work work) {
  std::lock_guard lock(state_->mutex);
  state_->backlog.push_back(std::move(work));
  if (!state_->draining) {
    state_->draining = true;
    state_->schedule();
  }
}

bool SerialQueue::runsOnCurrentThread() const {
  std::lock_guard lock(state_->mutex);
  return state_->runningThread == std::this_thread::get_id();
}

}  // namespace platform
