#pragma once
// The network runner's second operation: once the request has finished, it
// turns the answer into the command's outcome. Internal to the runner.

#include <memory>
#include <mutex>

#include "backend/http/http_request_operation.hpp"
#include "backend/net/command_runners.hpp"

namespace backend::net {

class CommandCompletionOperation final : public http::Operation {
 public:
  // Completes `source` from `request`, which it depends on; cancelled when
  // `cancellation` (may be null) or this operation is cancelled by then.
  CommandCompletionOperation(std::shared_ptr<http::HTTPRequestOperation> request, CancellationOperation cancellation,
                             TaskCompletionSource<CommandResult> source);

  // Reads a small answer on the starting thread: that is the network thread
  // that has just finished the request, and a hop to the background queue
  // would cost more than the read. A large answer is read on the background
  // queue so that the other transfers do not wait for its parse.
  void start() override;
  bool isExecuting() const override;
  bool isFinished() const override;

 private:
  void complete();
  void deliverOutcome();

  std::shared_ptr<http::HTTPRequestOperation> request_;
  CancellationOperation cancellation_;
  TaskCompletionSource<CommandResult> source_;
  mutable std::mutex mutex_;
  bool started_ = false;
  bool done_ = false;
};

}  // namespace backend::net
