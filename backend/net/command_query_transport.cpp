#include "command_query_transport.hpp"

#include <memory>

#include "backend/net/command_runners.hpp"
#include "backend/net/key_value_cache.hpp"
#include "backend/internal/query_transport.hpp"

namespace backend::net {
namespace {

CommandPtr findCommand(const Value& params, const SessionToken& token) {
  return Command::commandWithServerOperation("find", params, token);
}

// The runners consult an operation's cancelled flag; this one is never
// started, only cancelled along with the query's token.
CancellationOperation operationFor(const CancellationTokenPtr& token) {
  if (!token) return nullptr;
  auto operation = http::BlockOperation::create([] {});
  std::weak_ptr<http::Operation> weakOperation = operation;
  token->onCancel([weakOperation] {
    if (auto cancelled = weakOperation.lock()) cancelled->cancel();
  });
  return operation;
}

class CommandQueryTransport final : public QueryTransport {
 public:
  Task<Value> find(const Value& params, const SessionToken& token, int cachePolicy, double maxCacheAge,
                   const CancellationTokenPtr& cancellation) override {
    return CachedCommandRunner::runCommandAsync(findCommand(params, token), cachePolicy, maxCacheAge,
                                                operationFor(cancellation))
        .onSuccess([](const Task<CommandResult>& done) { return done.result().result; });
  }

  std::string cacheKey(const Value& params, const SessionToken& token) override {
    return findCommand(params, token)->cacheKey();
  }

  bool hasCachedResult(const std::string& cacheKey, double maxCacheAge) override {
    return KeyValueCache::mainCache().objectForKey(cacheKey, maxCacheAge).has_value();
  }

  void clearCachedResult(const std::string& cacheKey) override {
    KeyValueCache::mainCache().removeObjectForKey(cacheKey);
  }

  void clearAllCachedResults() override { KeyValueCache::mainCache().removeAllObjects(); }
};

}  // namespace

void installQueryTransport() { setQueryTransport(std::make_shared<CommandQueryTransport>()); }

}  // namespace backend::net
