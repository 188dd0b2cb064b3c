#include "backend/internal/internal_utils.hpp"
#include "backend/net/command_runners.hpp"
#include "backend/net/key_value_cache.hpp"
#include "platform/exceptions.hpp"

namespace backend::net {
namespace {

Task<CommandResult> writingToCache(const CommandPtr& command, const Task<CommandResult>& run) {
  return run.onSuccess([command](const Task<CommandResult>& done) {
    auto result = done.result();
    if (!result.resultString.empty()) KeyValueCache::mainCache().setObject(result.resultString, command->cacheKey());
    return result;
  });
}

}  // namespace

Task<CommandResult> CachedCommandRunner::getCachedResultForCommandAsync(const CommandPtr& command, double maxCacheAge,
                                                                        const CancellationOperation& cancellation) {
  if (cancellation && cancellation->isCancelled()) return Task<CommandResult>::cancelledTask();
  auto cached = KeyValueCache::mainCache().objectForKey(command->cacheKey(), maxCacheAge);
  if (!cached) return Task<CommandResult>::taskWithError(InternalUtils::errorWithCode(kErrorCacheMiss, "cache miss", false));
  auto decoded = InternalUtils::decodeObject(InternalUtils::parseJSON(*cached));
  if (decoded.isNil()) {
    return Task<CommandResult>::taskWithError(
        InternalUtils::errorWithCode(kErrorCacheMiss, "the cache contains corrupted json"));
  }
  return Task<CommandResult>::taskWithResult(CommandResult{decoded["result"], *cached});
}

Task<CommandResult> CachedCommandRunner::runCommandAsync(const CommandPtr& command, int cachePolicy, double maxCacheAge,
                                                         const CancellationOperation& cancellation) {
  if (cachePolicy == kCachePolicyCacheThenNetwork) {
    throw platform::InternalInconsistencyException("kBECachePolicyCacheThenNetwork is not implmented as a runner.");
  }
  if (cachePolicy < 0 || cachePolicy > kCachePolicyCacheThenNetwork) {
    throw platform::InternalInconsistencyException("Unrecognized cache policy: " + std::to_string(cachePolicy));
  }
  if (cancellation && cancellation->isCancelled()) return Task<CommandResult>::cancelledTask();
  switch (cachePolicy) {
    case kCachePolicyIgnoreCache:
      return RetryingCommandRunner::runCommandAsync(command, cancellation);
    case kCachePolicyCacheOnly:
      return getCachedResultForCommandAsync(command, maxCacheAge, cancellation);
    case kCachePolicyNetworkOnly:
      return writingToCache(command, RetryingCommandRunner::runCommandAsync(command, cancellation));
    case kCachePolicyCacheElseNetwork:
      return getCachedResultForCommandAsync(command, maxCacheAge, cancellation)
          .continueWith([command, cancellation](const Task<CommandResult>& read) {
            if (read.isCancelled() || read.exception() || !read.error()) return read;
            return writingToCache(command, RetryingCommandRunner::runCommandAsync(command, cancellation));
          });
    default:  // network else cache
      return writingToCache(command, NetworkCommandRunner::runCommandAsync(command, cancellation))
          .continueWith([command, cancellation, maxCacheAge](const Task<CommandResult>& run) {
            if (run.isCancelled() || run.exception() || !run.error()) return run;
            return getCachedResultForCommandAsync(command, maxCacheAge, cancellation);
          });
  }
}

}  // namespace backend::net
