#include "completion_route.hpp"

#include <algorithm>
#include <atomic>

#include "platform/event_loop_thread.hpp"

namespace analytics {

// A completion that runs once, on whichever queue reaches it first.
struct CompletionRoute::Pending {
  explicit Pending(platform::Work w) : work(std::move(w)) {}
  void runOnce() {
    if (!claimed.exchange(true)) work();
  }
  std::atomic<bool> claimed{false};
  platform::Work work;
};

CompletionRoute::CompletionRoute(platform::EventLoopThread& thread, platform::Executor* mainQueue)
    : thread_(thread), mainQueue_(mainQueue) {}

platform::Executor& CompletionRoute::mainQueue() const { return mainQueue_ ? *mainQueue_ : platform::mainQueue(); }

void CompletionRoute::post(platform::Work work) {
  auto pending = std::make_shared<Pending>(std::move(work));
  {
    std::lock_guard lock(mutex_);
    if (diverted_) {
      thread_.post([pending] { pending->runOnce(); });
      return;
    }
    waiting_.push_back(pending);
  }
  mainQueue().post([self = shared_from_this(), pending] {
    self->forget(pending.get());
    pending->runOnce();
  });
}

bool CompletionRoute::runsOnCurrentThread() const {
  return thread_.runsOnCurrentThread() || mainQueue().runsOnCurrentThread();
}

void CompletionRoute::divertToThread() {
  std::vector<std::shared_ptr<Pending>> waiting;
  {
    std::lock_guard lock(mutex_);
    diverted_ = true;
    waiting.swap(waiting_);
  }
  for (auto& pending : waiting) thread_.post([pending] { pending->runOnce(); });
}

void CompletionRoute::forget(const Pending* pending) {
  std::lock_guard lock(mutex_);
  std::erase_if(waiting_, [&](const auto& entry) { return entry.get() == pending; });
}

}  // namespace analytics
