#pragma once
// A fixed pool of threads behind the Executor interface.

#include <memory>
#include <string>

#include "platform/executor.hpp"

namespace platform {

class ThreadPool final : public Executor {
 public:
  enum class Priority { Default, Low };

  ThreadPool(std::string name, unsigned threads, Priority priority);
  // Joins the threads; work not yet started is dropped.
  ~ThreadPool() override;

  // Joins the threads and keeps the pool: work posted afterwards is queued
  // and never runs. Called once, from a thread outside the pool.
  void stop();

  void post(Work work) override;
  void postRunnable(Runnable& runnable) override;
  bool runsOnCurrentThread() const override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
