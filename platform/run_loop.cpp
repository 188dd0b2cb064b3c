#include "platform/run_loop.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/clock.hpp"

namespace platform {

namespace detail {
std::thread::id mainThreadId() noexcept;
}

using SteadyClock = std::chrono::steady_clock;

struct RunLoop::State {
  explicit State(std::thread::id owner) : owner(owner) {}
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Work> ready;
  bool stopRequested = false;
  std::thread::id owner;

  void push(Work work) {
    {
      std::lock_guard lock(mutex);
      ready.push_back(std::move(work));
    }
    wake.notify_one();
  }

  // Takes the next piece of work, waiting at most until `deadline`.
  // Answers an empty Work when none came or a stop was requested.
  Work next(SteadyClock::time_point deadline) {
    std::unique_lock lock(mutex);
    for (;;) {
      if (stopRequested) return {};
      if (!ready.empty()) {
        Work work = std::move(ready.front());
        ready.pop_front();
        return work;
      }
      if (SteadyClock::now() >= deadline) return {};
      wake.wait_until(lock, deadline);
    }
  }
};

RunLoop::RunLoop() : state_(std::make_shared<State>(std::this_thread::get_id())) {}
RunLoop::~RunLoop() = default;

RunLoop& RunLoop::main() {
  static RunLoop* loop = [] {
    auto* created = new RunLoop();  // lives for the whole process: work may be posted during exit
    created->state_->owner = detail::mainThreadId();
    return created;
  }();
  return *loop;
}

void RunLoop::post(Work work) { state_->push(std::move(work)); }

void RunLoop::postDelayed(Duration delay, Work work) {
  // The process clock holds the wait, so a test's clock decides when it is over.
  clock().schedule(clock().steadyNow() + delay, [loop = std::weak_ptr<State>(state_), work = std::move(work)]() mutable {
    if (auto state = loop.lock()) state->push(std::move(work));
  });
}

bool RunLoop::runsOnCurrentThread() const { return std::this_thread::get_id() == state_->owner; }

void RunLoop::run() {
  for (;;) {
    Work work = state_->next(SteadyClock::time_point::max());
    if (!work) break;
    work();
  }
  std::lock_guard lock(state_->mutex);
  state_->stopRequested = false;
}

void RunLoop::stop() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopRequested = true;
  }
  state_->wake.notify_all();
}

bool RunLoop::runUntil(const std::function<bool()>& done, Duration timeout) {
  auto deadline = SteadyClock::now() + timeout;
  while (!done()) {
    // Wake at least every 10 ms so a condition changed by another thread is seen.
    auto slice = std::min(deadline, SteadyClock::now() + std::chrono::milliseconds(10));
    Work work = state_->next(slice);
    if (work) {
      work();
    } else if (SteadyClock::now() >= deadline) {
      break;
    }
  }
  std::lock_guard lock(state_->mutex);
  state_->stopRequested = false;
  return done();
}

void RunLoop::runFor(Duration duration) {
  runUntil([] { return false; }, duration);
}

std::size_t RunLoop::drain() {
  std::size_t count = 0;
  for (;;) {
    Work work;
    {
      std::lock_guard lock(state_->mutex);
      if (state_->ready.empty()) break;
      work = std::move(state_->ready.front());
      state_->ready.pop_front();
    }
    work();
    ++count;
  }
  return count;
}

}  // namespace platform
