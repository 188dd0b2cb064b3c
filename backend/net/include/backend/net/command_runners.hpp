#pragma once
// The three ways to send a command: once (network runner), with retries of
// temporary failures (retrying runner), and under a cache policy (cached
// runner); plus a small synchronous retry utility. Every run takes an
// optional cancellation operation whose flag is consulted; a cancelled run
// yields a cancelled task. Task continuations run on the background queue.

#include <functional>
#include <memory>
#include <optional>

#include "backend/cache_policy.hpp"
#include "backend/http/http_client.hpp"
#include "backend/http/json_request_operation.hpp"
#include "backend/http/operation.hpp"
#include "backend/net/command.hpp"
#include "backend/task.hpp"
#include "platform/value.hpp"

namespace backend::net {

using CancellationOperation = std::shared_ptr<http::Operation>;

class NetworkCommandRunner {
 public:
  NetworkCommandRunner() = delete;

  // Sends the command once through the runner's queue (at most 3 at once).
  // Success: the decoded "result" and the answer text. Failure: the
  // server's error, or code 100 with "temporary" for transfer and HTTP
  // failures (false for 401 and 500). Local ids are resolved on the calling
  // thread, which may raise.
  static Task<CommandResult> runCommandAsync(const CommandPtr& command, const CancellationOperation& cancellation = nullptr);

  // The signed JSON POST of the command to "<base>/2/<operation>" with
  // "v", "iid" and a 60 s timeout.
  static std::shared_ptr<http::JSONRequestOperation> createRequest(const CommandPtr& command);
  // Adds the "Authorization" signature (the body is signed only for form bodies).
  static void signURLRequest(http::URLRequest& request);
  static http::OperationQueue& queue();
  static void enqueue(std::shared_ptr<http::Operation> operation);
  // The shared client for the current service address (JSON encoding);
  // rebuilt when the address changes.
  static std::shared_ptr<http::HTTPClient> sharedClient();
};

// How a finished request operation reads as a command outcome.
Task<CommandResult> commandOutcome(const http::HTTPRequestOperation& operation);
// The same from its parts: the operation's error (transfer or judgement),
// the status code (0 without a response) and the body text. Completed
// before it returns. Never raises for any text; may raise the typed
// decoder's exceptions for mistyped values of registered kinds.
Task<CommandResult> commandOutcome(const std::optional<platform::Error>& transferError, long statusCode,
                                   const std::string& responseText);

class RetryingCommandRunner {
 public:
  RetryingCommandRunner() = delete;

  // Up to 5 attempts; temporary failures wait d, 2d, 4d, 8d with d between
  // 1 and 2 times the initial delay.
  static Task<CommandResult> runCommandAsync(const CommandPtr& command, const CancellationOperation& cancellation = nullptr);
  static Task<CommandResult> runCommandAsync(const CommandPtr& command, const CancellationOperation& cancellation,
                                             int attemptsMade, double delaySeconds);
  // Seconds; 1.0 unless changed. Meant to be set before use.
  static void setInitialDelay(double seconds);
  static double initialDelay();
};

class CachedCommandRunner {
 public:
  CachedCommandRunner() = delete;

  // Runs under the policy (0 to 4). Raises InternalInconsistencyException
  // "kBECachePolicyCacheThenNetwork is not implmented as a runner." for 5
  // and "Unrecognized cache policy: <n>" for others.
  static Task<CommandResult> runCommandAsync(const CommandPtr& command, int cachePolicy, double maxCacheAge,
                                             const CancellationOperation& cancellation = nullptr);
  // The cached answer: code 120 "cache miss" when missing or too old, code
  // 120 "the cache contains corrupted json" when it does not decode.
  static Task<CommandResult> getCachedResultForCommandAsync(const CommandPtr& command, double maxCacheAge,
                                                            const CancellationOperation& cancellation = nullptr);
};

// Calls a block until it returns a value, at most maxAttempts times, on the
// caller's thread without pausing.
class BlockRetryer {
 public:
  using Block = std::function<platform::Value()>;
  static BlockRetryer retryBlock(Block block, int maxAttempts) { return BlockRetryer(std::move(block), maxAttempts); }
  BlockRetryer(Block block, int maxAttempts) : block_(std::move(block)), maxAttempts_(maxAttempts) {}

  // The first non-nil result, or nil when every attempt gave nil.
  platform::Value go();
  int attemptsMade() const noexcept { return attemptsMade_; }
  int maxAttempts() const noexcept { return maxAttempts_; }

 private:
  Block block_;
  int maxAttempts_;
  int attemptsMade_ = 0;
};

}  // namespace backend::net
