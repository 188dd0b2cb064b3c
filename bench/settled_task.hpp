#pragma once

// Waiting for a client task in a benchmark, the way an application waits for
// its callback (a plain wait on the main thread would warn).

#include <future>

#include "backend/task.hpp"

namespace bench {

template <class T>
const backend::Task<T>& settled(const backend::Task<T>& task) {
  std::promise<void> done;
  task.continueWith([&done](const backend::Task<T>&) { done.set_value(); });
  done.get_future().wait();
  return task;
}

}  // namespace bench
