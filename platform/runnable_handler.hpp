#pragma once
// Carries a Runnable through a queue as a move-only handler: it runs the
// Runnable once, or discards it when destroyed unrun.

#include <utility>

#include "platform/executor.hpp"

namespace platform::detail {

class RunnableHandler {
 public:
  explicit RunnableHandler(Runnable& runnable) noexcept : runnable_(&runnable) {}
  RunnableHandler(RunnableHandler&& other) noexcept : runnable_(std::exchange(other.runnable_, nullptr)) {}
  RunnableHandler& operator=(RunnableHandler&&) = delete;
  ~RunnableHandler() {
    if (runnable_) runnable_->discard();
  }

  void operator()() { std::exchange(runnable_, nullptr)->run(); }

 private:
  Runnable* runnable_;
};

}  // namespace platform::detail
