#pragma once
// The machinery behind tasks: shared outcome states, completions and the
// continuation states that chain them. Included by backend/task.hpp; nothing
// else should need it.

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/error.hpp"
#include "platform/exceptions.hpp"
#include "platform/executor.hpp"

namespace backend {

using platform::Error;

// Logs the main-thread warning; called whenever a blocking wait starts on the
// main thread. A plain function so that a debugger can break on it.
void warnBackendOperationOnMainThread();

template <class T>
class Task;
template <class T>
class TaskCompletionSource;

namespace detail {

class TaskStateBase;

// A party told once when a task completes. While it waits it sits in the
// task's list, which holds it (one reference, for parties that count them).
class Completion {
 public:
  // Called once, on the thread that completes the task (or at once when it
  // had already completed): must only schedule work or copy state. Takes over
  // the list's hold.
  virtual void taskCompleted(TaskStateBase& task) = 0;
  // Called instead when the task is destroyed while still pending.
  virtual void taskDropped() noexcept = 0;

  Completion* nextCompletion = nullptr;

 protected:
  ~Completion() = default;
};

// A continuation completing its own task in run() is about to drop the
// reference its queue held; the last party told of that completion may take
// this reference over instead of adding one, saving an increment and a
// decrement per hop. Set only while that completion runs on this thread.
inline thread_local TaskStateBase* referenceOnOffer = nullptr;

// Everything of a task except its typed result. Reference counted: task
// handles and the parties that wait on it share one allocation.
//
// The outcome is written once, under the lock, before `completed_` is set
// (release); readers that see it set (acquire) read the outcome without the
// lock, and readers that do not see it report a pending task.
class TaskStateBase {
 public:
  TaskStateBase() = default;
  TaskStateBase(const TaskStateBase&) = delete;
  TaskStateBase& operator=(const TaskStateBase&) = delete;
  virtual ~TaskStateBase() {
    for (Completion* completion = head_; completion;) {
      Completion* next = completion->nextCompletion;
      completion->taskDropped();
      completion = next;
    }
  }

  void retain() noexcept { references_.fetch_add(1, std::memory_order_relaxed); }
  void release() noexcept {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) destroy(this);
  }

  bool isCompleted() const { return completed_.load(std::memory_order_acquire); }
  bool isCancelled() const { return isCompleted() && cancelled_; }
  std::optional<Error> error() const {
    if (!isCompleted() || !error_) return std::nullopt;
    return *error_;
  }
  std::exception_ptr exception() const { return isCompleted() ? exception_ : nullptr; }
  bool isFaulted() const { return isCompleted() && (error_ || exception_); }

  bool trySetError(Error error) {
    return complete([&] { error_ = std::make_unique<Error>(std::move(error)); });
  }
  bool trySetException(std::exception_ptr exception) {
    return complete([&] { exception_ = std::move(exception); });
  }
  bool trySetCancelled() {
    return complete([&] { cancelled_ = true; });
  }

  // Tells `completion` at completion, in registration order, or at once when
  // already completed.
  void whenCompleted(Completion& completion) {
    // A completed task never takes another completion into its list.
    if (isCompleted()) {
      completion.taskCompleted(*this);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      if (!completed_.load(std::memory_order_relaxed)) {
        completion.nextCompletion = nullptr;
        (tail_ ? tail_->nextCompletion : head_) = &completion;
        tail_ = &completion;
        return;
      }
    }
    completion.taskCompleted(*this);
  }

  // The outcome of a task known to be completed.
  bool cancelledUnlocked() const { return cancelled_; }
  const std::exception_ptr& exceptionUnlocked() const { return exception_; }
  const Error* errorUnlocked() const { return error_.get(); }

  void wait() const {
    if (platform::isMainThread()) warnBackendOperationOnMainThread();
    if (isCompleted()) return;
    std::unique_lock lock(mutex_);
    // Registered under the lock that completion takes to wake the waiters,
    // so the wake-up cannot be lost; it lives on this stack, so a task that
    // nobody waits for owns no condition variable at all.
    if (completed_.load(std::memory_order_relaxed)) return;
    Waiter waiter{{}, waiters_};
    waiters_ = &waiter;
    waiter.woken.wait(lock, [this] { return completed_.load(std::memory_order_relaxed); });
  }

 protected:
  // Completes a state no other party can see yet: nobody waits, nothing to lock.
  template <class Store>
  void completeUnshared(Store&& store) {
    store();
    completed_.store(true, std::memory_order_release);
  }

  template <class Store>
  bool complete(Store&& store) {
    Completion* completions;
    {
      std::lock_guard lock(mutex_);
      if (completed_.load(std::memory_order_relaxed)) return false;
      store();
      completed_.store(true, std::memory_order_release);
      for (Waiter* waiter = std::exchange(waiters_, nullptr); waiter; waiter = waiter->next) waiter->woken.notify_one();
      completions = std::exchange(head_, nullptr);
      tail_ = nullptr;
    }
    tellCompletions(completions);
    return true;
  }

 private:
  struct Waiter {
    std::condition_variable woken;
    Waiter* next;
  };

  // Told outside the lock: a reference on offer for this state goes only to
  // the last completion, and once that one is told nothing here touches the
  // state, which its new holder may already have let go of on another thread.
  void tellCompletions(Completion* completion) {
    const bool offered = referenceOnOffer == this;
    if (offered && completion) referenceOnOffer = nullptr;
    while (completion) {
      Completion* next = std::exchange(completion->nextCompletion, nullptr);
      if (!next && offered) referenceOnOffer = this;
      completion->taskCompleted(*this);
      completion = next;
    }
  }

  // Deletes states one after another rather than inside each other, so a
  // long chain of pending continuations dropped at once cannot overflow the
  // stack.
  static void destroy(TaskStateBase* state) noexcept {
    thread_local TaskStateBase* doomed = nullptr;
    thread_local bool destroying = false;
    state->nextDoomed_ = doomed;
    doomed = state;
    if (destroying) return;
    destroying = true;
    while (doomed) {
      TaskStateBase* next = doomed;
      doomed = next->nextDoomed_;
      delete next;
    }
    destroying = false;
  }

  mutable std::mutex mutex_;
  std::atomic<int> references_{1};
  std::atomic<bool> completed_{false};
  bool cancelled_ = false;
  std::unique_ptr<Error> error_;
  std::exception_ptr exception_;
  mutable Waiter* waiters_ = nullptr;
  Completion* head_ = nullptr;
  Completion* tail_ = nullptr;
  TaskStateBase* nextDoomed_ = nullptr;
};

template <class T>
class TaskState : public TaskStateBase {
 public:
  bool trySetResult(T result) {
    return complete([&] { result_ = std::move(result); });
  }
  void setResultUnshared(T result) {
    completeUnshared([&] { result_ = std::move(result); });
  }
  // The result; a default T while pending.
  T result() const { return isCompleted() ? result_ : T{}; }
  const T& resultUnlocked() const { return result_; }

 private:
  T result_{};
};

template <>
class TaskState<void> : public TaskStateBase {
 public:
  bool trySetResult() {
    return complete([] {});
  }
  void setResultUnshared() {
    completeUnshared([] {});
  }
};

// An owning pointer to a task state (one reference).
template <class S>
class StateRef {
 public:
  StateRef() = default;
  // Takes over a reference the caller already holds.
  static StateRef adopt(S* state) noexcept {
    StateRef ref;
    ref.state_ = state;
    return ref;
  }
  // Adds a reference of its own.
  static StateRef share(S& state) noexcept {
    state.retain();
    return adopt(&state);
  }
  StateRef(const StateRef& other) noexcept : state_(other.state_) {
    if (state_) state_->retain();
  }
  template <class D, class = std::enable_if_t<std::is_convertible_v<D*, S*>>>
  StateRef(const StateRef<D>& other) noexcept : state_(other.get()) {
    if (state_) state_->retain();
  }
  StateRef(StateRef&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}
  StateRef& operator=(StateRef other) noexcept {
    std::swap(state_, other.state_);
    return *this;
  }
  ~StateRef() {
    if (state_) state_->release();
  }

  // Gives up the reference without releasing it.
  S* detach() noexcept { return std::exchange(state_, nullptr); }
  S* get() const noexcept { return state_; }
  S* operator->() const noexcept { return state_; }
  S& operator*() const noexcept { return *state_; }
  explicit operator bool() const noexcept { return state_ != nullptr; }

 private:
  S* state_ = nullptr;
};

template <class R>
struct TaskUnwrap {
  using type = R;
};
template <class U>
struct TaskUnwrap<Task<U>> {
  using type = U;
};

// The result type of a continuation whose block returns R.
template <class R>
using ContinuationResult = typename TaskUnwrap<std::decay_t<R>>::type;

template <class T>
inline constexpr bool isTask = false;
template <class U>
inline constexpr bool isTask<Task<U>> = true;

// Runs a Work at completion (on the completing thread: it must only schedule).
class WorkCompletion final : public Completion {
 public:
  explicit WorkCompletion(platform::Work work) : work_(std::move(work)) {}
  void taskCompleted(TaskStateBase&) override {
    work_();
    delete this;
  }
  void taskDropped() noexcept override { delete this; }

 private:
  platform::Work work_;
};

template <class T, class R, class F>
class ContinuationState;

}  // namespace detail

namespace detail {

// Copying an adopted outcome runs inline at completion; a chain of tasks each
// completing the next would recurse once per link, so past this depth the
// copy hops to the background queue instead.
inline constexpr int kMaxInlineCompletionDepth = 16;
inline thread_local int completionDepth = 0;

// Counts one level of inline completion while alive, when one is allowed.
class InlineCompletionStep {
 public:
  InlineCompletionStep() noexcept : allowed_(completionDepth < kMaxInlineCompletionDepth) {
    if (allowed_) ++completionDepth;
  }
  ~InlineCompletionStep() {
    if (allowed_) --completionDepth;
  }
  InlineCompletionStep(const InlineCompletionStep&) = delete;
  InlineCompletionStep& operator=(const InlineCompletionStep&) = delete;
  bool allowed() const noexcept { return allowed_; }

 private:
  bool allowed_;
};

// A reference to `from`, a task completing now: the offered one when it is
// `from`'s, else one of its own.
inline StateRef<TaskStateBase> holdCompleted(TaskStateBase& from) noexcept {
  if (referenceOnOffer == &from) {
    referenceOnOffer = nullptr;
    return StateRef<TaskStateBase>::adopt(&from);
  }
  return StateRef<TaskStateBase>::share(from);
}

// Runs `complete` (which completes `task`) with the caller's reference to
// `task` on offer; true when a continuation took it over.
template <class Complete>
bool completeOfferingReference(TaskStateBase& task, Complete&& complete) {
  TaskStateBase* const previous = std::exchange(referenceOnOffer, &task);
  std::forward<Complete>(complete)();
  const bool taken = referenceOnOffer != &task;
  referenceOnOffer = previous;
  return taken;
}

template <class T>
void copyOutcome(const TaskState<T>& from, TaskState<T>& to) {
  if (from.cancelledUnlocked()) {
    to.trySetCancelled();
  } else if (from.exceptionUnlocked()) {
    to.trySetException(from.exceptionUnlocked());
  } else if (from.errorUnlocked()) {
    to.trySetError(*from.errorUnlocked());
  } else if constexpr (std::is_void_v<T>) {
    to.trySetResult();
  } else {
    to.trySetResult(from.resultUnlocked());
  }
}

// Makes a pending task end as another task ends: waits in the other task's
// list and copies its outcome at completion.
template <class T>
class OutcomeForwarder final : public Completion, public platform::Runnable {
 public:
  explicit OutcomeForwarder(StateRef<TaskState<T>> target) : target_(std::move(target)) {}

  void taskCompleted(TaskStateBase& from) override {
    InlineCompletionStep step;
    if (step.allowed()) {
      copyOutcome(static_cast<const TaskState<T>&>(from), *target_);
      delete this;
    } else {
      from_ = StateRef<TaskStateBase>::share(from);
      platform::backgroundQueue().postRunnable(*this);
    }
  }
  void taskDropped() noexcept override { delete this; }
  void run() override {
    copyOutcome(static_cast<const TaskState<T>&>(*from_), *target_);
    delete this;
  }
  void discard() noexcept override { delete this; }

 private:
  StateRef<TaskState<T>> target_;
  StateRef<TaskStateBase> from_;
};

// The task of a continuation, and the continuation itself, in one
// allocation: it waits in its antecedent's list, is posted to its executor as
// it is, runs the block, and, when the block returns a task, waits in that
// task's list to adopt its outcome. Each list and each queue it sits in holds
// one reference.
template <class T, class R, class F>
class ContinuationState final : public TaskState<ContinuationResult<R>>,
                                public Completion,
                                public platform::Runnable {
  using U = ContinuationResult<R>;

 public:
  template <class Block>
  ContinuationState(platform::Executor& executor, Block&& block)
      : executor_(executor), block_(std::in_place, std::forward<Block>(block)) {}

  void taskCompleted(TaskStateBase& from) override {
    if (step_ == Step::awaitAntecedent) {
      input_ = holdCompleted(from);
      executor_.postRunnable(*this);
      return;
    }
    InlineCompletionStep step;
    if (step.allowed()) {
      copyOutcome(static_cast<const TaskState<U>&>(from), *this);
      this->release();
    } else {
      input_ = StateRef<TaskStateBase>::share(from);
      platform::backgroundQueue().postRunnable(*this);
    }
  }

  void taskDropped() noexcept override {
    // The antecedent died pending: the block can never run.
    block_.reset();
    this->release();
  }

  void run() override {
    StateRef<TaskStateBase> input = std::move(input_);
    bool handedOver = false;
    if (step_ == Step::awaitAntecedent) {
      handedOver = runBlock(Task<T>(StateRef<TaskState<T>>::adopt(static_cast<TaskState<T>*>(input.detach()))));
    } else {
      copyOutcome(static_cast<const TaskState<U>&>(*input), *this);
    }
    if (!handedOver) this->release();
  }

  void discard() noexcept override {
    input_ = {};
    block_.reset();
    this->release();
  }

 private:
  enum class Step : unsigned char { awaitAntecedent, adoptReturnedTask };

  // Runs the block and completes with its outcome; true when the queue's
  // reference to this state went to a continuation on the way.
  bool runBlock(const Task<T>& antecedent) {
    try {
      if constexpr (std::is_void_v<R>) {
        (*block_)(antecedent);
        block_.reset();
        return completeOfferingReference(*this, [this] { this->trySetResult(); });
      } else if constexpr (isTask<std::decay_t<R>>) {
        auto returned = (*block_)(antecedent);
        block_.reset();
        if (returned.isCompleted()) {
          // Nothing to wait for: adopt the outcome now, without the list.
          return completeOfferingReference(*this, [&] { copyOutcome(*returned.state_, *this); });
        }
        step_ = Step::adoptReturnedTask;
        this->retain();
        returned.state_->whenCompleted(*this);
      } else {
        auto result = (*block_)(antecedent);
        block_.reset();
        return completeOfferingReference(*this, [&] { this->trySetResult(std::move(result)); });
      }
    } catch (...) {
      block_.reset();
      this->trySetException(std::current_exception());
    }
    return false;
  }

  platform::Executor& executor_;
  // Gone once run: what the block holds must not live as long as its task.
  std::optional<F> block_;
  // The completed antecedent while the block is queued; the completed
  // returned task while a deferred adoption is queued.
  StateRef<TaskStateBase> input_;
  Step step_ = Step::awaitAntecedent;
};

}  // namespace detail

}  // namespace backend
