#pragma once
// A thread that owns its event loop: timers and posted work run on it, in
// order. Used for the network thread and the analytics thread.

#include <memory>
#include <string>

#include "platform/executor.hpp"

namespace platform {

class EventLoopThread;

// A one-shot or repeating timer on an EventLoopThread. Cancelling (or
// destroying the handle) guarantees the callback will not start afterwards.
class Timer {
 public:
  Timer() = default;
  ~Timer();
  Timer(Timer&&) noexcept;
  Timer& operator=(Timer&&) noexcept;

  void cancel();
  bool isActive() const;

  struct State;  // implementation detail, shared with the pending alarm

 private:
  friend class EventLoopThread;
  std::shared_ptr<State> state_;
};

class EventLoopThread final : public Executor {
 public:
  enum class Wait { No, Yes };

  // Starts the thread; `name` becomes its thread name (at most 15 bytes shown).
  explicit EventLoopThread(std::string name);
  // Stops the loop and joins the thread; work still queued is dropped.
  ~EventLoopThread() override;

  void post(Work work) override;
  void postDelayed(Duration delay, Work work) override;
  bool runsOnCurrentThread() const override;

  // Runs work on the loop thread. With Wait::Yes the caller blocks until it has
  // run (runs inline when already on the loop thread) and an exception it
  // throws is rethrown in the caller.
  void perform(Work work, Wait wait);

  // Fires `work` on the loop thread after `interval`, and every `interval`
  // after that when `repeats`.
  [[nodiscard]] Timer scheduleTimer(Duration interval, bool repeats, Work work);

  const std::string& name() const noexcept;

  struct State;  // implementation detail, shared with Timer

 private:
  std::shared_ptr<State> state_;
};

}  // namespace platform
