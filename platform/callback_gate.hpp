#pragma once
// Lets an owner switch off a callback with the promise that, once close()
// returns, the callback is neither running on another thread nor will it
// start again. A callback may close its own gate (no self-wait).

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace platform::detail {

class CallbackGate {
 public:
  // Marks the calling thread as inside the callback; false once closed.
  bool enter() {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    inside_.push_back(std::this_thread::get_id());
    return true;
  }

  void leave() {
    std::lock_guard lock(mutex_);
    auto self = std::this_thread::get_id();
    for (auto it = inside_.begin(); it != inside_.end(); ++it) {
      if (*it == self) {
        inside_.erase(it);
        break;
      }
    }
    changed_.notify_all();
  }

  void close() {
    std::unique_lock lock(mutex_);
    closed_ = true;
    auto self = std::this_thread::get_id();
    changed_.wait(lock, [&] {
      for (auto id : inside_) {
        if (id != self) return false;
      }
      return true;
    });
  }

  bool isClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
  std::vector<std::thread::id> inside_;
};

// enter() on construction, leave() on destruction when entered.
class GatePass {
 public:
  explicit GatePass(CallbackGate& gate) : gate_(gate), entered_(gate.enter()) {}
  ~GatePass() {
    if (entered_) gate_.leave();
  }
  GatePass(const GatePass&) = delete;
  GatePass& operator=(const GatePass&) = delete;
  explicit operator bool() const noexcept { return entered_; }

 private:
  CallbackGate& gate_;
  bool entered_;
};

}  // namespace platform::detail
