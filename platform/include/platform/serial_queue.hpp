#pragma once
// Runs work one piece at a time, in posting order, on a concurrent pool.

#include <memory>

#include "platform/executor.hpp"

namespace platform {

class SerialQueue final : public Executor {
 public:
  // The pool defaults to backgroundQueue(); it must outlive the queue.
  explicit SerialQueue(Executor& pool = backgroundQueue());
  ~SerialQueue() override;

  void post(Work work) override;
  bool runsOnCurrentThread() const override;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace platform
