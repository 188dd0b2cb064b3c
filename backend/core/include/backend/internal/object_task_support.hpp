#pragma once
// Small task helpers shared by the saving, fetching and deleting code.

#include <optional>
#include <string>

#include "backend/task.hpp"
#include "platform/value.hpp"

namespace backend::detail {

// A task of another result type that ends as `failed` ended (cancelled,
// exception or error).
template <class T, class U>
Task<T> failureOf(const Task<U>& failed) {
  TaskCompletionSource<T> source;
  if (failed.isCancelled()) {
    source.trySetCancelled();
  } else if (auto exception = failed.exception()) {
    source.trySetException(exception);
  } else if (auto error = failed.error()) {
    source.trySetError(*error);
  } else {
    source.trySetCancelled();
  }
  return source.task();
}

template <class U>
bool succeeded(const Task<U>& task) {
  return !task.isCancelled() && !task.isFaulted();
}

}  // namespace backend::detail
