#pragma once
// The reporting half every reachability watcher shares: remembers the last
// flags, and posts each change to the watcher's executor in order.

#include <memory>
#include <mutex>
#include <optional>

#include "callback_gate.hpp"
#include "platform/reachability.hpp"

namespace platform::detail {

class ReachabilityReporter {
 public:
  // False when already started.
  bool start(ReachabilityCallback onChange, Executor& executor, std::optional<ReachabilityFlags> baseline) {
    std::lock_guard lock(mutex_);
    if (started_) return false;
    started_ = true;
    last_ = baseline;
    executor_ = &executor;
    callback_ = std::make_shared<const ReachabilityCallback>(std::move(onChange));
    gate_ = std::make_shared<CallbackGate>();
    return true;
  }

  void stop() {
    std::shared_ptr<CallbackGate> gate;
    {
      std::lock_guard lock(mutex_);
      started_ = false;
      gate = std::move(gate_);
      callback_.reset();
    }
    // Outside the lock: a callback that is running may be reporting too.
    if (gate) gate->close();
  }

  bool isStarted() const {
    std::lock_guard lock(mutex_);
    return started_;
  }

  // Posts onChange(flags) when started and the flags differ from the last.
  void report(std::optional<ReachabilityFlags> flags) {
    std::lock_guard lock(mutex_);
    if (!started_ || flags == last_) return;
    last_ = flags;
    if (!flags) return;  // unreadable: nothing to tell, but the next reading counts as a change
    // Posted under the lock so that concurrent reports keep their order.
    executor_->post([gate = gate_, callback = callback_, value = *flags] {
      GatePass pass(*gate);
      if (pass) (*callback)(value);
    });
  }

 private:
  mutable std::mutex mutex_;
  bool started_ = false;
  std::optional<ReachabilityFlags> last_;
  Executor* executor_ = nullptr;
  std::shared_ptr<const ReachabilityCallback> callback_;
  std::shared_ptr<CallbackGate> gate_;
};

}  // namespace platform::detail
