#pragma once
// How queries reach the service and the answer cache. The command layer
// installs its implementation when the client is configured (as it does for
// object persistence), so queries never depend on it.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "backend/internal/object_transport.hpp"
#include "backend/task.hpp"
#include "platform/value.hpp"

namespace backend {

// The cancellation flag of one query run. Thread-safe.
class CancellationToken {
 public:
  // Sets the flag and calls every observer once (outside the lock).
  void cancel();
  bool isCancelled() const noexcept { return cancelled_.load(); }
  // Calls `observer` when the token is cancelled, at once when it already is.
  void onCancel(std::function<void()> observer);

 private:
  std::atomic<bool> cancelled_{false};
  std::mutex mutex_;
  std::vector<std::function<void()>> observers_;
};
using CancellationTokenPtr = std::shared_ptr<CancellationToken>;

class QueryTransport {
 public:
  virtual ~QueryTransport() = default;

  // Runs the "find" command of the parameters under the cache policy (0 to
  // 4; others raise as the cached command runner does) and answers the
  // decoded "result". A cancelled token gives a cancelled task.
  virtual Task<Value> find(const Value& params, const SessionToken& token, int cachePolicy, double maxCacheAge,
                           const CancellationTokenPtr& cancellation) = 0;
  // The cache key of that command.
  virtual std::string cacheKey(const Value& params, const SessionToken& token) = 0;
  // Whether the answer cache holds an answer under the key, at most
  // maxCacheAge seconds old.
  virtual bool hasCachedResult(const std::string& cacheKey, double maxCacheAge) = 0;
  virtual void clearCachedResult(const std::string& cacheKey) = 0;
  virtual void clearAllCachedResults() = 0;
};

// Installs the process-wide transport (nullptr removes it). Thread-safe.
void setQueryTransport(std::shared_ptr<QueryTransport> transport);
// The installed transport; raises InternalInconsistencyException "You have
// to call setApplicationId:clientKey: on Backend to configure Backend." when
// there is none.
std::shared_ptr<QueryTransport> requireQueryTransport();

}  // namespace backend
