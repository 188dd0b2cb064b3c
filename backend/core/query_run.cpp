// Running queries: finds and counts through the query transport, the
// blocking and callback forms, cancellation and the answer cache.

#include <chrono>
#include <cstdio>

#include "backend/internal/internal_utils.hpp"
#include "backend/internal/object_save_hooks.hpp"
#include "backend/query.hpp"
#include "platform/exceptions.hpp"
#include "platform/executor.hpp"
#include "platform/log.hpp"

namespace backend {
namespace {

using Clock = std::chrono::steady_clock;
using Objects = std::vector<ObjectPtr>;

double secondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

void logTrace(double preProcessing, const std::string& serverTrace, double parsing) {
  char first[64], last[64];
  std::snprintf(first, sizeof first, "Pre-processing took %f seconds\n", preProcessing);
  std::snprintf(last, sizeof last, "Client side parsing took %f seconds", parsing);
  platform::log(first + serverTrace + last);
}

}  // namespace

// ---- Runs --------------------------------------------------------------------------

CancellationTokenPtr Query::markAsRunning() {
  if (className_ == "_Installation")
    throw platform::InvalidArgumentException("Cannot directly query the Installation class.");
  std::lock_guard lock(mutex_);
  if (cancellationToken_)
    throw platform::InternalInconsistencyException(
        "This query has an outstanding network connection. You have to wait until it's done.");
  cancellationToken_ = std::make_shared<CancellationToken>();
  return cancellationToken_;
}

CancellationTokenPtr Query::tokenForRun(const Task<void>* after) {
  if (!after) return markAsRunning();
  std::lock_guard lock(mutex_);
  return cancellationToken_;
}

void Query::clearTokenIfCurrent(const CancellationTokenPtr& token) {
  std::lock_guard lock(mutex_);
  if (cancellationToken_ == token) cancellationToken_.reset();
}

void Query::cancel() {
  CancellationTokenPtr token;
  {
    std::lock_guard lock(mutex_);
    token = std::move(cancellationToken_);
    cancellationToken_.reset();
  }
  if (token) token->cancel();
}

Task<Value> Query::runFind(const Value& params, int cachePolicy, const Task<void>* after,
                           const CancellationTokenPtr& token, RunEnd end, const std::shared_ptr<TimePoint>& submitted) {
  const auto self = std::static_pointer_cast<Query>(shared_from_this());
  const auto sessionToken = currentSessionToken();
  const Task<void> prior = after ? *after : Task<void>::taskWithResult();
  Task<Value> sent = prior.onSuccess([self, params, cachePolicy, sessionToken, token, submitted](const Task<void>&) {
    if (submitted) *submitted = Clock::now();
    return requireQueryTransport()->find(params, sessionToken, cachePolicy, self->maxCacheAge(), token);
  });
  if (end == RunEnd::SecondRunFollows) return sent;
  return sent.continueWith([self, token](const Task<Value>& run) {
    self->clearTokenIfCurrent(token);
    return run;
  });
}

std::vector<ObjectPtr> Query::objectsOfAnswer(const Value& answer) const {
  Objects objects;
  const Value results = answer["results"];
  const platform::Array* entries = results.array();
  if (!entries) return objects;
  const Value answeredClass = answer["className"];
  const std::string& className = answeredClass.isString() ? *answeredClass.string() : className_;
  const Completeness completeness = selectedKeys_ ? Completeness::Partial : Completeness::Complete;
  objects.reserve(entries->size());
  for (const Value& entry : *entries) {
    ObjectPtr object = Object::objectWithClassName(className, Creation::Pointer);
    object->mergeAfterFetch(entry, completeness);
    objects.push_back(std::move(object));
  }
  return objects;
}

Task<Objects> Query::findAsync(int cachePolicy, const Task<void>* after, RunEnd end) {
  const auto started = Clock::now();
  const Value params = constructFindParams();
  const CancellationTokenPtr token = tokenForRun(after);
  const auto self = std::static_pointer_cast<Query>(shared_from_this());
  // When the command went to the runner, for the trace line.
  auto submitted = std::make_shared<TimePoint>(started);
  return runFind(params, cachePolicy, after, token, end, submitted)
      .onSuccess([self, token, started, submitted](const Task<Value>& run) -> Task<Objects> {
        if (token && token->isCancelled()) return Task<Objects>::cancelledTask();
        const auto parsing = Clock::now();
        Objects objects = self->objectsOfAnswer(run.result());
        const Value trace = run.result()["trace"];
        if (trace.isString())
          logTrace(secondsBetween(started, *submitted), *trace.string(), secondsBetween(parsing, Clock::now()));
        return Task<Objects>::taskWithResult(std::move(objects));
      });
}

Task<long long> Query::countAsync(int cachePolicy, const Task<void>* after, RunEnd end) {
  const Value params = constructCountParams();
  const CancellationTokenPtr token = tokenForRun(after);
  return runFind(params, cachePolicy, after, token, end, nullptr)
      .onSuccess([token](const Task<Value>& run) -> Task<long long> {
        if (token && token->isCancelled()) return Task<long long>::cancelledTask();
        return Task<long long>::taskWithResult(run.result()["count"].longLongValue());
      });
}

Task<ObjectPtr> Query::firstObjectAsync(int cachePolicy, const Task<void>* after, RunEnd end) {
  setLimit(1);
  return findAsync(cachePolicy, after, end).onSuccess([](const Task<Objects>& found) -> Task<ObjectPtr> {
    if (found.result().empty())
      return Task<ObjectPtr>::taskWithError(
          InternalUtils::errorWithCode(kErrorObjectNotFound, "no results matched the query"));
    return Task<ObjectPtr>::taskWithResult(found.result().front());
  });
}

Task<Objects> Query::findAsync(int cachePolicy) { return findAsync(cachePolicy, nullptr, RunEnd::Idle); }

Task<Objects> Query::findAsync(int cachePolicy, const Task<void>& after) {
  return findAsync(cachePolicy, &after, RunEnd::Idle);
}

Task<long long> Query::countAsync(int cachePolicy) { return countAsync(cachePolicy, nullptr, RunEnd::Idle); }

Task<long long> Query::countAsync(int cachePolicy, const Task<void>& after) {
  return countAsync(cachePolicy, &after, RunEnd::Idle);
}

// ---- Blocking forms ----------------------------------------------------------------

Objects Query::findObjects(std::optional<platform::Error>* error) {
  return findAsync(cachePolicy()).waitForResult(error);
}

ObjectPtr Query::getFirstObject(std::optional<platform::Error>* error) {
  return firstObjectAsync(cachePolicy(), nullptr, RunEnd::Idle).waitForResult(error);
}

long long Query::countObjects(std::optional<platform::Error>* error) {
  Task<long long> counted = countAsync(cachePolicy());
  std::optional<platform::Error> failure;
  const long long count = counted.waitForResult(&failure);
  if (error) *error = failure;
  return failure || counted.isCancelled() ? -1 : count;
}

void Query::prepareGetObject(std::string_view objectId) {
  checkIfCommandIsRunning();
  where_.clear();
  whereKeyEqualTo("objectId", Value(objectId));
  setSkip(0);
  setLimit(1);
}

ObjectPtr Query::getObjectWithId(std::string_view objectId, std::optional<platform::Error>* error) {
  if (objectId.empty()) return nullptr;
  prepareGetObject(objectId);
  return getFirstObject(error);
}

ObjectPtr Query::getObjectOfClass(std::string className, std::string_view objectId,
                                  std::optional<platform::Error>* error) {
  return queryWithClassName(std::move(className))->getObjectWithId(objectId, error);
}

ObjectPtr Query::getUserObjectWithId(std::string_view objectId, std::optional<platform::Error>* error) {
  return queryForUser()->getObjectWithId(objectId, error);
}

// ---- Callback forms ----------------------------------------------------------------

template <class T>
void Query::runInBackground(const std::function<Task<T>(int, const Task<void>*, RunEnd)>& run,
                            typename Task<T>::ResultCallback callback) {
  // Without a callback the first delivery still has to end for the second
  // run to start.
  if (!callback) callback = [](const auto&, const auto&) {};
  const int policy = cachePolicy();
  if (policy != kCachePolicyCacheThenNetwork) {
    run(policy, nullptr, RunEnd::Idle).thenCallBackOnMainThreadAsync(callback);
    return;
  }
  const Task<void> firstDelivered =
      whenAll({run(kCachePolicyCacheOnly, nullptr, RunEnd::SecondRunFollows).thenCallBackOnMainThreadAsync(callback)});
  run(kCachePolicyNetworkOnly, &firstDelivered, RunEnd::Idle).thenCallBackOnMainThreadAsync(callback);
}

void Query::findObjectsInBackground(ObjectsCallback callback) {
  runInBackground<Objects>(
      [this](int policy, const Task<void>* after, RunEnd end) { return findAsync(policy, after, end); },
      std::move(callback));
}

void Query::getFirstObjectInBackground(ObjectCallback callback) {
  runInBackground<ObjectPtr>(
      [this](int policy, const Task<void>* after, RunEnd end) {
        return firstObjectAsync(policy, after, end);
      },
      std::move(callback));
}

void Query::countObjectsInBackground(CountCallback callback) {
  runInBackground<long long>(
      [this](int policy, const Task<void>* after, RunEnd end) { return countAsync(policy, after, end); },
      std::move(callback));
}

void Query::getObjectInBackgroundWithId(std::string_view objectId, ObjectCallback callback) {
  if (objectId.empty()) {
    if (callback) platform::mainQueue().post([callback] { callback(nullptr, std::nullopt); });
    return;
  }
  prepareGetObject(objectId);
  getFirstObjectInBackground(std::move(callback));
}

// ---- The answer cache ----------------------------------------------------------------

std::string Query::cacheKeyForFindCommand() const {
  return requireQueryTransport()->cacheKey(constructFindParams(), currentSessionToken());
}

bool Query::hasCachedResult() const {
  return requireQueryTransport()->hasCachedResult(cacheKeyForFindCommand(), maxCacheAge());
}

void Query::clearCachedResult() const { requireQueryTransport()->clearCachedResult(cacheKeyForFindCommand()); }

void Query::clearAllCachedResults() { requireQueryTransport()->clearAllCachedResults(); }

}  // namespace backend
