#pragma once
// Tasks: one-shot asynchronous outcomes with continuations.
//
// A task completes exactly once with a result (possibly "nothing"), an error,
// an exception or cancellation. Continuations never run in the caller's
// frame: they are scheduled on the background queue (or a given executor)
// when the task completes. A continuation may return a task, whose outcome
// the continuation's own task then adopts.

#include "backend/internal/task_detail.hpp"

namespace backend {

// A task of any result type, for operations that only look at completion.
class AnyTask {
 public:
  template <class T>
  AnyTask(const Task<T>& task) : state_(task.state_) {}

  bool isCompleted() const { return state_->isCompleted(); }
  bool isCancelled() const { return state_->isCancelled(); }
  std::optional<Error> error() const { return state_->error(); }
  std::exception_ptr exception() const { return state_->exception(); }
  void waitUntilFinished() const { state_->wait(); }
  // Runs `callback` at completion under the task's lock (it must only
  // schedule or copy state), or at once when already completed.
  void whenCompleted(platform::Work callback) const {
    state_->whenCompleted(*new detail::WorkCompletion(std::move(callback)));
  }

 private:
  friend Task<void> whenAll(const std::vector<AnyTask>& tasks);

  detail::StateRef<detail::TaskStateBase> state_;
};

template <class T>
class Task {
 public:
  using ResultType = T;
  using ResultCallback = std::conditional_t<std::is_void_v<T>, std::function<void(const std::optional<Error>&)>,
                                            std::function<void(const std::conditional_t<std::is_void_v<T>, int, T>&,
                                                               const std::optional<Error>&)>>;

  // A pending task; complete it through a TaskCompletionSource.
  Task() : state_(detail::StateRef<detail::TaskState<T>>::adopt(new detail::TaskState<T>())) {}

  template <class U = T, class = std::enable_if_t<!std::is_void_v<U>>>
  static Task taskWithResult(U result) {
    Task task;
    task.state_->setResultUnshared(std::move(result));
    return task;
  }
  template <class U = T, class = std::enable_if_t<std::is_void_v<U>>>
  static Task taskWithResult() {
    Task task;
    task.state_->setResultUnshared();
    return task;
  }
  static Task taskWithError(Error error) {
    Task task;
    task.state_->trySetError(std::move(error));
    return task;
  }
  static Task taskWithException(std::exception_ptr exception) {
    Task task;
    task.state_->trySetException(std::move(exception));
    return task;
  }
  static Task cancelledTask() {
    Task task;
    task.state_->trySetCancelled();
    return task;
  }

  bool isCompleted() const { return state_->isCompleted(); }
  bool isCancelled() const { return state_->isCancelled(); }
  // Failed with an error or an exception.
  bool isFaulted() const { return state_->isFaulted(); }
  std::optional<Error> error() const { return state_->error(); }
  std::exception_ptr exception() const { return state_->exception(); }
  // The result; a default T while pending or failed.
  template <class U = T, class = std::enable_if_t<!std::is_void_v<U>>>
  U result() const {
    return state_->result();
  }

  // Schedules `block(*this)` on `executor` once this task completes; returns
  // a task for the block's outcome (an exception it throws is captured; a
  // task it returns is adopted).
  template <class F>
  auto continueWith(platform::Executor& executor, F&& block) const
      -> Task<detail::ContinuationResult<std::invoke_result_t<F, Task>>>;
  // The same on the background queue.
  template <class F>
  auto continueWith(F&& block) const {
    return continueWith(platform::backgroundQueue(), std::forward<F>(block));
  }

  // Runs `block(*this)` only when this task succeeded; otherwise the returned
  // task ends in this task's state (same error, same exception, cancelled).
  template <class F>
  auto onSuccess(F&& block) const;

  // Delivers the outcome to `callback` on the main queue and answers a task
  // that ends as this one did once it ran. An exception is raised again on
  // the main queue instead of calling back; a cancelled task is not called
  // back. An empty callback answers this task itself.
  Task<T> thenCallBackOnMainThreadAsync(ResultCallback callback) const;
  // The same with the result turned into a boolean (nothing is false).
  Task<T> thenCallBackOnMainThreadWithBoolValueAsync(
      std::function<void(bool, const std::optional<Error>&)> callback) const;

  // Blocks until completed (logs the main-thread warning on the main thread).
  void waitUntilFinished() const { state_->wait(); }
  // Waits, then: cancelled → default result, error untouched; exception →
  // rethrown here; error → stored in *error when given; answers the result.
  auto waitForResult(std::optional<Error>* error = nullptr) const;

  // Makes `target` (a pending task) end as this task ends, at completion.
  void forwardTo(const Task& target) const;

  // Identity of the shared state: copies of one task compare equal.
  bool operator==(const Task& other) const noexcept { return state_.get() == other.state_.get(); }

 private:
  template <class U>
  friend class Task;
  template <class U>
  friend class TaskCompletionSource;
  friend class AnyTask;
  template <class, class, class>
  friend class detail::ContinuationState;
  friend Task<void> whenAll(const std::vector<AnyTask>& tasks);

  explicit Task(detail::StateRef<detail::TaskState<T>> state) : state_(std::move(state)) {}

  // For a completed, failed or cancelled task: ends `target` the same way.
  template <class U>
  void forwardFailureTo(const TaskCompletionSource<U>& target) const;

  detail::StateRef<detail::TaskState<T>> state_;
};

// The producer side of a task.
template <class T>
class TaskCompletionSource {
 public:
  TaskCompletionSource() = default;
  const Task<T>& task() const noexcept { return task_; }

  template <class U = T, class = std::enable_if_t<!std::is_void_v<U>>>
  bool trySetResult(U result) const {
    return task_.state_->trySetResult(std::move(result));
  }
  template <class U = T, class = std::enable_if_t<std::is_void_v<U>>>
  bool trySetResult() const {
    return task_.state_->trySetResult();
  }
  bool trySetError(Error error) const { return task_.state_->trySetError(std::move(error)); }
  bool trySetException(std::exception_ptr exception) const {
    return task_.state_->trySetException(std::move(exception));
  }
  bool trySetCancelled() const { return task_.state_->trySetCancelled(); }

  // As the try forms, raising InternalInconsistencyException when the task
  // was already completed.
  template <class U = T, class = std::enable_if_t<!std::is_void_v<U>>>
  void setResult(U result) const {
    if (!trySetResult(std::move(result)))
      throw platform::InternalInconsistencyException("Cannot set the result on a completed task.");
  }
  template <class U = T, class = std::enable_if_t<std::is_void_v<U>>>
  void setResult() const {
    if (!trySetResult()) throw platform::InternalInconsistencyException("Cannot set the result on a completed task.");
  }
  void setError(Error error) const {
    if (!trySetError(std::move(error)))
      throw platform::InternalInconsistencyException("Cannot set the error on a completed task.");
  }
  void setException(std::exception_ptr exception) const {
    if (!trySetException(std::move(exception)))
      throw platform::InternalInconsistencyException("Cannot set the exception on a completed task.");
  }
  void cancel() const {
    if (!trySetCancelled()) throw platform::InternalInconsistencyException("Cannot cancel a completed task.");
  }

 private:
  Task<T> task_;
};

// A task that succeeds with nothing once every member has completed, however
// each of them ended. An empty list gives an already succeeded task.
Task<void> whenAll(const std::vector<AnyTask>& tasks);

// A task that succeeds with nothing after `milliseconds`, completed on the
// background queue.
Task<void> delay(long long milliseconds);

template <class T>
void Task<T>::forwardTo(const Task& target) const {
  state_->whenCompleted(*new detail::OutcomeForwarder<T>(target.state_));
}

template <class T>
template <class U>
void Task<T>::forwardFailureTo(const TaskCompletionSource<U>& target) const {
  if (isCancelled()) {
    target.trySetCancelled();
  } else if (auto exception = this->exception()) {
    target.trySetException(exception);
  } else if (auto error = this->error()) {
    target.trySetError(*error);
  }
}

template <class T>
template <class F>
auto Task<T>::continueWith(platform::Executor& executor, F&& block) const
    -> Task<detail::ContinuationResult<std::invoke_result_t<F, Task>>> {
  using R = std::invoke_result_t<F, Task>;
  using U = detail::ContinuationResult<R>;
  auto* continuation = new detail::ContinuationState<T, R, std::decay_t<F>>(executor, std::forward<F>(block));
  Task<U> next(detail::StateRef<detail::TaskState<U>>::adopt(continuation));
  // The antecedent's list holds the second reference; the antecedent itself
  // is not held, so a pending task never owns itself through its list.
  continuation->retain();
  state_->whenCompleted(*continuation);
  return next;
}

template <class T>
template <class F>
auto Task<T>::onSuccess(F&& block) const {
  using R = std::invoke_result_t<F, Task>;
  using U = detail::ContinuationResult<R>;
  // The block runs in the continuation that saw the success: handing it to
  // a second one cost every step of a chain another trip through the pool.
  return continueWith([block = std::forward<F>(block)](const Task& completed) mutable -> Task<U> {
    if (completed.isFaulted() || completed.isCancelled()) {
      TaskCompletionSource<U> failed;
      completed.forwardFailureTo(failed);
      return failed.task();
    }
    if constexpr (detail::isTask<std::decay_t<R>>) {
      return block(completed);
    } else if constexpr (std::is_void_v<R>) {
      block(completed);
      return Task<U>::taskWithResult();
    } else {
      return Task<U>::taskWithResult(block(completed));
    }
  });
}

template <class T>
Task<T> Task<T>::thenCallBackOnMainThreadAsync(ResultCallback callback) const {
  if (!callback) return *this;
  return continueWith([callback = std::move(callback)](const Task& completed) mutable -> Task<T> {
    TaskCompletionSource<void> delivered;
    platform::mainQueue().post([completed, delivered, callback = std::move(callback)] {
      // Completes the delivery even when the exception unwinds the loop.
      struct Complete {
        const TaskCompletionSource<void>& source;
        ~Complete() { source.trySetResult(); }
      } complete{delivered};
      if (auto exception = completed.exception()) std::rethrow_exception(exception);
      if (completed.isCancelled()) return;
      if constexpr (std::is_void_v<T>) {
        callback(completed.error());
      } else {
        callback(completed.result(), completed.error());
      }
    });
    return delivered.task().continueWith([completed](const Task<void>&) { return completed; });
  });
}

template <class T>
Task<T> Task<T>::thenCallBackOnMainThreadWithBoolValueAsync(
    std::function<void(bool, const std::optional<Error>&)> callback) const {
  if (!callback) return thenCallBackOnMainThreadAsync(nullptr);
  if constexpr (std::is_void_v<T>) {
    return thenCallBackOnMainThreadAsync(
        [callback = std::move(callback)](const std::optional<Error>& error) { callback(false, error); });
  } else {
    return thenCallBackOnMainThreadAsync([callback = std::move(callback)](const T& result,
                                                                           const std::optional<Error>& error) {
      if constexpr (std::is_same_v<T, bool>) {
        callback(result, error);
      } else if constexpr (requires { result.boolValue(); }) {
        callback(result.boolValue(), error);
      } else {
        callback(static_cast<bool>(result), error);
      }
    });
  }
}

template <class T>
auto Task<T>::waitForResult(std::optional<Error>* error) const {
  waitUntilFinished();
  if constexpr (std::is_void_v<T>) {
    if (isCancelled()) return;
    if (auto exception = this->exception()) std::rethrow_exception(exception);
    if (auto failure = this->error(); failure && error) *error = std::move(failure);
  } else {
    if (isCancelled()) return T{};
    if (auto exception = this->exception()) std::rethrow_exception(exception);
    if (auto failure = this->error(); failure && error) *error = std::move(failure);
    return result();
  }
}

}  // namespace backend
