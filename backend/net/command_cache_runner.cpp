// The queue's runner thread: drains the stored commands oldest first while
// connected, keeps those that failed for want of a connection and pauses
// before trying them again.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>

#include "backend/internal/internal_utils.hpp"
#include "backend/internal/local_id_manager.hpp"
#include "backend/net/command_cache.hpp"
#include "backend/net/command_runners.hpp"
#include "command_cache_files.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"

namespace fs = std::filesystem;

namespace backend::net {

namespace {

std::string describe(std::exception_ptr exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

platform::Error preparationError(const std::string& exceptionText) {
  platform::Dictionary info;
  info.set("message", "saveEventually command failed.");
  info.set("exception", exceptionText);
  info.set("error", exceptionText);
  return platform::Error(kErrorDomain, kErrorMissingObjectId, platform::Value(std::move(info)));
}

// Server answers and client errors end the command; only a connection
// failure without a client-side HTTP status may pass.
bool isFinalFailure(const platform::Error& error) {
  if (error.code != kErrorConnectionFailed) return true;
  const long long status = error.userInfo["httpStatus"].longLongValue();
  return status != 0 && status < 500;
}

void recordAssignedObjectId(const Command& command, const CommandResult& result) {
  if (!command.localId()) return;
  const platform::Value objectId = result.result["data"]["objectId"];
  if (objectId.isString()) requireLocalIdManager()->setObjectIdForLocalId(objectId.asString(), *command.localId());
}

std::chrono::steady_clock::duration waitDuration(float seconds) {
  // A setting of NaN, a negative or an absurd number must not overflow the clock.
  double bounded = std::isfinite(seconds) ? std::clamp(static_cast<double>(seconds), 0.0, 1e9) : 0.0;
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(bounded));
}

}  // namespace

void CommandCache::resume() {
  std::lock_guard lifecycle(lifecycleMutex_);
  if (runner_.joinable()) return;
  shouldStop_ = false;
  std::promise<void> started;
  auto running = started.get_future();
  runner_ = std::thread([this, &started] {
    started.set_value();
    runLoop();
  });
  running.wait();
}

void CommandCache::pause() {
  std::lock_guard lifecycle(lifecycleMutex_);
  if (!runner_.joinable()) return;
  shouldStop_ = true;
  // Taking each lock once orders the flag before the runner's next look at it.
  { std::lock_guard wake(wakeup_->mutex); }
  wakeup_->condition.notify_all();
  { std::lock_guard lock(mutex_); }
  condition_.notify_all();
  runner_.join();
}

void CommandCache::runLoop() {
  std::unique_lock lock(mutex_);
  while (!shouldStop_) {
    workArrived_ = false;
    try {
      maybeRunAllCommandsNow(lock, timeoutMaxRetries_);
    } catch (const std::exception& e) {
      platform::log(std::string("runEventually thread had an error. ") + e.what());
    }
    condition_.wait(lock, [this] { return shouldStop_ || workArrived_; });
  }
}

void CommandCache::maybeRunAllCommandsNow(std::unique_lock<std::mutex>& lock, int retriesRemaining) {
  while (drainOnce(lock, retriesRemaining) == PassEnd::Restart) --retriesRemaining;
}

CommandCache::PassEnd CommandCache::drainOnce(std::unique_lock<std::mutex>& lock, int retriesRemaining) {
  if (!connected_) return PassEnd::Finished;
  for (const auto& path : sortedEntries(cachePath_)) {
    if (shouldStop_) return PassEnd::Abort;
    if (!isQueueFileName(path)) {
      // Left by a write that was cut short; the lock keeps out writes in
      // progress. Its command was counted as referring to its local ids.
      std::error_code error;
      removeFile(path, error);
      knownTotalSize_.reset();
      continue;
    }
    auto end = runStoredCommand(lock, path, retriesRemaining);
    if (end != PassEnd::Finished) return end;
  }
  return PassEnd::Finished;
}

CommandCache::PassEnd CommandCache::runStoredCommand(std::unique_lock<std::mutex>& lock, const fs::path& path,
                                                     int retriesRemaining) {
  std::error_code readError;
  auto text = platform::readFile(path, &readError);
  if (!text || text->empty()) {
    platform::log(text ? std::string("Found empty file in saveEventually cache.")
                       : "Unable to read JSON from cache. " + readError.message());
    auto source = takeSource(path);
    std::error_code error;
    if (!removeFile(path, error) && error) platform::log("Unable to remove bad command from cache. " + error.message());
    if (source) source->trySetError(commandNotKeptError("Unable to read the stored command."));
    return PassEnd::Finished;
  }

  CommandPtr command;
  Task<CommandResult> outcome;
  try {
    command = Command::commandFromJSON(*text);
    if (!command) throw std::invalid_argument("The stored text is not a command.");
    outcome = sendAndWait(command);
  } catch (...) {
    outcome = Task<CommandResult>::taskWithError(preparationError(describe(std::current_exception())));
  }
  // Stopped with the answer still out: the file stays for the next run.
  if (!outcome.isCompleted() || outcome.isCancelled()) return PassEnd::Abort;
  if (auto exception = outcome.exception()) {
    outcome = Task<CommandResult>::taskWithError(preparationError(describe(exception)));
  }

  if (!outcome.error()) {
    auto result = outcome.result();
    recordAssignedObjectId(*command, result);
    auto source = takeSource(path);
    std::error_code error;
    if (!removeFile(path, error) && error) {
      platform::log("Unable to remove successful command from runEventually queue. " + error.message());
    }
    if (source) source->trySetResult(std::move(result));
    return PassEnd::Finished;
  }

  auto error = *outcome.error();
  if (isFinalFailure(error)) {
    platform::log("runEventually command failed. Error:" + error.description());
    auto source = takeSource(path);
    std::error_code removeError;
    if (!removeFile(path, removeError) && removeError) {
      platform::log("Unable to remove failed command from runEventually queue. " + removeError.message());
    }
    if (source) source->trySetError(std::move(error));
    return PassEnd::Finished;
  }
  return waitForRetry(lock, retriesRemaining);
}

// Sends once and waits for the outcome, or until the queue is paused (the
// returned task is then still pending).
Task<CommandResult> CommandCache::sendAndWait(const CommandPtr& command) {
  auto task = NetworkCommandRunner::runCommandAsync(command);
  auto wakeup = wakeup_;
  auto done = std::make_shared<bool>(false);
  AnyTask(task).whenCompleted([wakeup, done] {
    {
      std::lock_guard lock(wakeup->mutex);
      *done = true;
    }
    wakeup->condition.notify_all();
  });
  std::unique_lock lock(wakeup->mutex);
  wakeup->condition.wait(lock, [&] { return *done || shouldStop_.load(); });
  return task;
}

CommandCache::PassEnd CommandCache::waitForRetry(std::unique_lock<std::mutex>& lock, int retriesRemaining) {
  char line[160];
  std::snprintf(line, sizeof line, "Attempt at runEventually command timed out. Waiting %f seconds. %d retries remaining.",
                static_cast<double>(timeoutRetryWaitSeconds_), retriesRemaining);
  platform::log(line);
  const auto deadline = std::chrono::steady_clock::now() + waitDuration(timeoutRetryWaitSeconds_);
  while (condition_.wait_until(lock, deadline) == std::cv_status::no_timeout) {
    if (!connected_ || shouldStop_) {
      platform::log("Aborting wait because runEventually background thread should stop.");
      return PassEnd::Abort;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  platform::log("Done waiting for network timeout.");
  return retriesRemaining >= 1 ? PassEnd::Restart : PassEnd::Finished;
}

}  // namespace backend::net
