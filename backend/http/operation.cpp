#include "backend/http/operation.hpp"

#include <algorithm>
#include <deque>

#include "platform/executor.hpp"

namespace backend::http {

void Operation::cancel() { setCancelledFlag(); }

void Operation::setCancelledFlag() {
  std::lock_guard lock(mutex_);
  cancelled_ = true;
}

bool Operation::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

bool Operation::dependenciesFinished() const {
  return std::all_of(dependencies_.begin(), dependencies_.end(), [](const auto& d) { return d->isFinished(); });
}

void Operation::addDependency(std::shared_ptr<Operation> other) { dependencies_.push_back(std::move(other)); }

void Operation::setCompletionBlock(std::function<void()> block) {
  std::lock_guard lock(mutex_);
  completionBlock_ = std::move(block);
}

void Operation::whenFinished(std::function<void()> callback) {
  {
    std::lock_guard lock(mutex_);
    if (!finished_) {
      finishObservers_.push_back(std::move(callback));
      return;
    }
  }
  callback();
}

void Operation::markFinished() {
  std::function<void()> completion;
  std::vector<std::function<void()>> observers;
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    finished_ = true;
    completion = std::move(completionBlock_);
    completionBlock_ = nullptr;
    observers.swap(finishObservers_);
  }
  if (completion) platform::backgroundQueue().post(std::move(completion));
  for (auto& observer : observers) observer();
}

std::shared_ptr<BlockOperation> BlockOperation::create(std::function<void()> block) {
  return std::make_shared<BlockOperation>(std::move(block));
}

void BlockOperation::start() {
  {
    std::lock_guard lock(stateMutex_);
    if (executing_ || done_) return;
    executing_ = true;
  }
  auto self = std::static_pointer_cast<BlockOperation>(shared_from_this());
  platform::backgroundQueue().post([self] {
    if (!self->isCancelled() && self->block_) self->block_();
    self->block_ = nullptr;
    {
      std::lock_guard lock(self->stateMutex_);
      self->executing_ = false;
      self->done_ = true;
    }
    self->markFinished();
  });
}

bool BlockOperation::isExecuting() const {
  std::lock_guard lock(stateMutex_);
  return executing_;
}

bool BlockOperation::isFinished() const {
  std::lock_guard lock(stateMutex_);
  return done_;
}

struct OperationQueue::State : std::enable_shared_from_this<State> {
  std::mutex mutex;
  std::condition_variable idle;
  std::size_t maxConcurrent = 1;
  std::size_t running = 0;
  std::deque<std::shared_ptr<Operation>> waiting;

  // Starts what may start; called whenever something was added or finished.
  void pump() {
    std::vector<std::shared_ptr<Operation>> toStart;
    {
      std::lock_guard lock(mutex);
      for (auto it = waiting.begin(); it != waiting.end() && running < maxConcurrent;) {
        if ((*it)->dependenciesFinished()) {
          toStart.push_back(*it);
          ++running;
          it = waiting.erase(it);
        } else {
          ++it;
        }
      }
    }
    std::weak_ptr<State> weak = shared_from_this();
    for (auto& operation : toStart) {
      operation->whenFinished([weak] {
        if (auto state = weak.lock()) state->operationFinished();
      });
      operation->start();
    }
  }

  void operationFinished() {
    {
      std::lock_guard lock(mutex);
      --running;
      if (running == 0 && waiting.empty()) idle.notify_all();
    }
    pump();
  }
};

OperationQueue::OperationQueue(std::size_t maxConcurrent) : state_(std::make_shared<State>()) {
  state_->maxConcurrent = std::max<std::size_t>(1, maxConcurrent);
}

OperationQueue::~OperationQueue() {
  // Operations still waiting would never start: they end cancelled, so
  // whoever waits for them (a batch's completion) hears of it.
  std::deque<std::shared_ptr<Operation>> waiting;
  {
    std::lock_guard lock(state_->mutex);
    waiting.swap(state_->waiting);
  }
  for (auto& operation : waiting) operation->cancel();
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation) {
  std::weak_ptr<State> weak = state_;
  for (const auto& dependency : operation->dependencies()) {
    dependency->whenFinished([weak] {
      if (auto state = weak.lock()) state->pump();
    });
  }
  {
    std::lock_guard lock(state_->mutex);
    state_->waiting.push_back(std::move(operation));
  }
  state_->pump();
}

std::size_t OperationQueue::maxConcurrentOperationCount() const noexcept { return state_->maxConcurrent; }

std::size_t OperationQueue::operationCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->running + state_->waiting.size();
}

void OperationQueue::cancelAllOperations() {
  std::vector<std::shared_ptr<Operation>> waiting;
  {
    std::lock_guard lock(state_->mutex);
    waiting.assign(state_->waiting.begin(), state_->waiting.end());
  }
  for (auto& operation : waiting) operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
  std::unique_lock lock(state_->mutex);
  state_->idle.wait(lock, [&] { return state_->running == 0 && state_->waiting.empty(); });
}

}  // namespace backend::http
