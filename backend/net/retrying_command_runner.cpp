#include <atomic>
#include <cstdio>
#include <random>

#include "backend/net/command_runners.hpp"
#include "platform/log.hpp"

namespace backend::net {
namespace {

std::atomic<double> initialDelaySeconds{1.0};
constexpr int kMaxAttempts = 5;

double jitteredFirstDelay() {
  thread_local std::mt19937 generator{std::random_device{}()};
  std::uniform_int_distribution<int> random(0, 65535);
  return initialDelaySeconds.load() * (1.0 + random(generator) / 65535.0);
}

}  // namespace

void RetryingCommandRunner::setInitialDelay(double seconds) { initialDelaySeconds = seconds; }
double RetryingCommandRunner::initialDelay() { return initialDelaySeconds; }

Task<CommandResult> RetryingCommandRunner::runCommandAsync(const CommandPtr& command,
                                                           const CancellationOperation& cancellation) {
  return runCommandAsync(command, cancellation, 1, jitteredFirstDelay());
}

Task<CommandResult> RetryingCommandRunner::runCommandAsync(const CommandPtr& command,
                                                           const CancellationOperation& cancellation, int attemptsMade,
                                                           double delaySeconds) {
  auto attempt = NetworkCommandRunner::runCommandAsync(command, cancellation);
  return attempt.continueWith([command, cancellation, attemptsMade, delaySeconds](const Task<CommandResult>& done) {
    if (cancellation && cancellation->isCancelled()) return Task<CommandResult>::cancelledTask();
    auto error = done.error();
    if (error && error->userInfo["temporary"].boolValue() && attemptsMade < kMaxAttempts) {
      char line[160];
      std::snprintf(line, sizeof line, "Network connection failed. Making attempt %i after sleeping for %f seconds.",
                    attemptsMade + 1, delaySeconds);
      platform::log(line);
      return delay(static_cast<long long>(delaySeconds * 1000))
          .continueWith([command, cancellation, attemptsMade, delaySeconds](const Task<void>&) {
            return runCommandAsync(command, cancellation, attemptsMade + 1, delaySeconds * 2);
          });
    }
    return done;
  });
}

platform::Value BlockRetryer::go() {
  while (attemptsMade_ < maxAttempts_) {
    ++attemptsMade_;
    auto result = block_();
    if (!result.isNil()) return result;
  }
  return platform::Value();
}

}  // namespace backend::net
