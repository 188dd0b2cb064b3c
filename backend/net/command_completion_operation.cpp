#include "command_completion_operation.hpp"

#include "platform/executor.hpp"

namespace backend::net {
namespace {

// Command answers are mostly far smaller; a full page of query results is
// not, and its parse would hold up every transfer.
constexpr long long kInlineAnswerLimit = 64 * 1024;

}  // namespace

CommandCompletionOperation::CommandCompletionOperation(std::shared_ptr<http::HTTPRequestOperation> request,
                                                       CancellationOperation cancellation,
                                                       TaskCompletionSource<CommandResult> source)
    : request_(std::move(request)), cancellation_(std::move(cancellation)), source_(std::move(source)) {
  addDependency(request_);
}

void CommandCompletionOperation::start() {
  {
    std::lock_guard lock(mutex_);
    if (started_) return;
    started_ = true;
  }
  if (request_->totalBytesRead() <= kInlineAnswerLimit) {
    complete();
    return;
  }
  auto self = std::static_pointer_cast<CommandCompletionOperation>(shared_from_this());
  platform::backgroundQueue().post([self] { self->complete(); });
}

void CommandCompletionOperation::complete() {
  deliverOutcome();
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  markFinished();
}

void CommandCompletionOperation::deliverOutcome() {
  // A cancelled completion still ends the task: its caller would wait forever.
  if (isCancelled() || (cancellation_ && cancellation_->isCancelled())) {
    source_.trySetCancelled();
    return;
  }
  try {
    commandOutcome(*request_).forwardTo(source_.task());
  } catch (...) {
    // A mistyped value in the answer fails this command, not the thread.
    source_.trySetException(std::current_exception());
  }
}

bool CommandCompletionOperation::isExecuting() const {
  std::lock_guard lock(mutex_);
  return started_ && !done_;
}

bool CommandCompletionOperation::isFinished() const {
  std::lock_guard lock(mutex_);
  return done_;
}

}  // namespace backend::net
