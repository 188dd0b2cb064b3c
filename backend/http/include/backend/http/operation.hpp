#pragma once
// A unit of work that an OperationQueue starts when its dependencies have
// finished, and the queue itself (a bounded number of operations at once).

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/value.hpp"

namespace backend::http {

class Operation : public platform::SharedObject {
 public:
  ~Operation() override = default;

  // Begins the work; the operation reports its end through markFinished.
  virtual void start() = 0;
  // Sets the cancelled flag; subclasses also stop their work.
  virtual void cancel();
  bool isCancelled() const;
  virtual bool isExecuting() const = 0;
  virtual bool isFinished() const = 0;
  // True when every dependency has finished.
  bool dependenciesFinished() const;
  // The operation waits for `other` to finish before it may start.
  void addDependency(std::shared_ptr<Operation> other);
  const std::vector<std::shared_ptr<Operation>>& dependencies() const noexcept { return dependencies_; }

  // Runs once, on the background queue, after the operation has finished;
  // cleared after it runs.
  virtual void setCompletionBlock(std::function<void()> block);
  // Called (on the finishing thread, no lock held) when the operation
  // finishes, or at once when it already has. For queues and dependants.
  void whenFinished(std::function<void()> callback);

 protected:
  // Subclasses call this exactly once, without holding their own lock.
  void markFinished();
  void setCancelledFlag();

 private:
  mutable std::mutex mutex_;
  bool cancelled_ = false;
  bool finished_ = false;
  std::function<void()> completionBlock_;
  std::vector<std::function<void()>> finishObservers_;
  std::vector<std::shared_ptr<Operation>> dependencies_;
};

// Runs a block on the background queue.
class BlockOperation final : public Operation {
 public:
  static std::shared_ptr<BlockOperation> create(std::function<void()> block);
  explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}

  void start() override;
  bool isExecuting() const override;
  bool isFinished() const override;

 private:
  mutable std::mutex stateMutex_;
  bool executing_ = false;
  bool done_ = false;
  std::function<void()> block_;
};

// Starts operations in the order they were added, as soon as their
// dependencies have finished, with at most `maxConcurrent` running at once.
// Holds each operation until it finishes. Thread-safe.
class OperationQueue {
 public:
  explicit OperationQueue(std::size_t maxConcurrent);
  ~OperationQueue();
  OperationQueue(const OperationQueue&) = delete;
  OperationQueue& operator=(const OperationQueue&) = delete;

  void addOperation(std::shared_ptr<Operation> operation);
  std::size_t maxConcurrentOperationCount() const noexcept;
  // Operations waiting or running.
  std::size_t operationCount() const;
  void cancelAllOperations();
  void waitUntilAllOperationsAreFinished();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace backend::http
