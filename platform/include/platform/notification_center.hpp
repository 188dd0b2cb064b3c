#pragma once
// Named broadcasts within the process: whoever posts does not know who
// listens.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/executor.hpp"
#include "platform/value.hpp"

namespace platform {

struct Notification {
  std::string name;
  // The sender, when the poster names one (for example the reachability
  // monitor whose flags changed).
  std::shared_ptr<SharedObject> object;
  Value userInfo;

  // The sender when it is a T, else nullptr.
  template <class T>
  std::shared_ptr<T> objectAs() const noexcept {
    return std::dynamic_pointer_cast<T>(object);
  }
};

using NotificationCallback = std::function<void(const Notification&)>;

// Identifies one registration; a default token identifies none.
struct ObserverToken {
  std::uint64_t id = 0;
  explicit operator bool() const noexcept { return id != 0; }
  bool operator==(const ObserverToken&) const noexcept = default;
};

class NotificationCenter {
 public:
  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // The process-wide centre.
  static NotificationCenter& defaultCenter();

  // Calls `callback` for every notification named `name` (and, when `sender`
  // is given, only for those whose object is that sender). Without `queue`
  // the callback runs synchronously on the posting thread; with one, each
  // delivery is posted to it. Thread-safe.
  ObserverToken addObserver(std::string name, NotificationCallback callback,
                            const SharedObject* sender = nullptr, Executor* queue = nullptr);

  // Ends a registration. Once this returns the callback is not running on
  // another thread and will not be called again; called from inside the
  // callback itself it does not wait for that call. Answers whether the token
  // was registered.
  bool removeObserver(ObserverToken token);

  // Delivers to the observers registered when the post starts, in
  // registration order, on the calling thread. An observer removed during
  // the delivery is not called afterwards. An exception thrown by an
  // observer propagates to the poster and the remaining observers are skipped.
  void post(const Notification& notification);
  void post(std::string name, std::shared_ptr<SharedObject> object = nullptr, Value userInfo = Value());

  // post() later, on the main queue.
  void postOnMainAsync(Notification notification);
  void postOnMainAsync(std::string name, std::shared_ptr<SharedObject> object = nullptr,
                       Value userInfo = Value());

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// Removes its registration when destroyed; movable.
class ScopedObserver {
 public:
  ScopedObserver() = default;
  ScopedObserver(NotificationCenter& center, ObserverToken token) : center_(&center), token_(token) {}
  ~ScopedObserver() { reset(); }
  ScopedObserver(ScopedObserver&& other) noexcept
      : center_(std::exchange(other.center_, nullptr)), token_(std::exchange(other.token_, {})) {}
  ScopedObserver& operator=(ScopedObserver&& other) noexcept {
    if (this != &other) {
      reset();
      center_ = std::exchange(other.center_, nullptr);
      token_ = std::exchange(other.token_, {});
    }
    return *this;
  }

  void reset() {
    if (center_ && token_) center_->removeObserver(token_);
    center_ = nullptr;
    token_ = {};
  }

 private:
  NotificationCenter* center_ = nullptr;
  ObserverToken token_;
};

}  // namespace platform
