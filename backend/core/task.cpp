#include "backend/task.hpp"

#include <atomic>

#include "platform/log.hpp"

namespace backend {

__attribute__((noinline)) void warnBackendOperationOnMainThread() {
  platform::log(
      "Warning: A long-running backend operation is being executed on the main thread. \n"
      " Break on warnBackendOperationOnMainThread() to debug.");
}

namespace {

// The combined task of whenAll, counting its members down.
class AllCompleted final : public detail::TaskState<void>, public platform::Runnable {
 public:
  explicit AllCompleted(std::size_t members) : remaining_(members) {}

  // True for the member that completed last.
  bool memberCompleted() { return remaining_.fetch_sub(1, std::memory_order_acq_rel) == 1; }

  void run() override {
    trySetResult();
    release();
  }
  void discard() noexcept override { release(); }

 private:
  std::atomic<std::size_t> remaining_;
};

// Counting needs no background hop: it is a decrement at completion.
class MemberCompletion final : public detail::Completion {
 public:
  explicit MemberCompletion(detail::StateRef<AllCompleted> all) : all_(std::move(all)) {}

  void taskCompleted(detail::TaskStateBase&) override {
    if (all_->memberCompleted()) {
      detail::InlineCompletionStep step;
      if (step.allowed()) {
        all_->trySetResult();
      } else {
        platform::backgroundQueue().postRunnable(*all_.detach());
      }
    }
    delete this;
  }
  void taskDropped() noexcept override { delete this; }

 private:
  detail::StateRef<AllCompleted> all_;
};

}  // namespace

Task<void> whenAll(const std::vector<AnyTask>& tasks) {
  if (tasks.empty()) return Task<void>::taskWithResult();
  auto all = detail::StateRef<AllCompleted>::adopt(new AllCompleted(tasks.size()));
  for (const auto& task : tasks) task.state_->whenCompleted(*new MemberCompletion(all));
  return Task<void>(std::move(all));
}

Task<void> delay(long long milliseconds) {
  TaskCompletionSource<void> done;
  platform::backgroundQueue().postDelayed(std::chrono::milliseconds(milliseconds), [done] { done.trySetResult(); });
  return done.task();
}

}  // namespace backend
