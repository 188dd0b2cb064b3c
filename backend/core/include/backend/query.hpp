#pragma once
// A search over one class of backend objects: constraints on keys, ordering,
// paging, related objects to include, keys to return and a cache policy.
// Running it sends one "find" command through the cached command runner and
// turns the answer into data objects; counting sends the same command with a
// count flag.
//
// A query is set up by one thread, then run. While a run is outstanding
// every constraint, ordering, include and select-keys change raises
// InternalInconsistencyException "This query has an outstanding network
// connection. You have to wait until it's done."; limit, skip, the cache
// settings, trace, whereRelatedToObject and redirectClassNameForKey may
// still change. The cache policy and the maximum cache age are atomic.
//
// Constraint values are checked when added (InvalidArgumentException, see
// InternalUtils::assertValidClassForQuery and ...ForOrdering) and encoded
// when the find parameters are built: a data object without an object id
// then raises InternalInconsistencyException.

#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backend/cache_policy.hpp"
#include "backend/geo_point.hpp"
#include "backend/object.hpp"
#include "backend/object_subclass.hpp"
#include "backend/predicate.hpp"
#include "backend/internal/query_transport.hpp"
#include "backend/task.hpp"
#include "platform/value.hpp"

namespace backend {

class Query;
using QueryPtr = std::shared_ptr<Query>;

// One ordering key.
struct SortDescriptor {
  std::string key;
  bool ascending = true;
};

class Query : public platform::SharedObject {
 public:
  using ObjectsCallback =
      std::function<void(const std::vector<ObjectPtr>& objects, const std::optional<platform::Error>& error)>;
  using ObjectCallback = std::function<void(const ObjectPtr& object, const std::optional<platform::Error>& error)>;
  using CountCallback = std::function<void(long long count, const std::optional<platform::Error>& error)>;

  explicit Query(std::string className);

  // ---- Creating -------------------------------------------------------------

  static QueryPtr queryWithClassName(std::string className);
  // A query equivalent to the predicate, normalised to at most one OR of
  // AND-groups. Raises InternalInconsistencyException for predicates no
  // query can express (modifiers, LIKE, regular expressions, NOT IN forms
  // without a constant list, ORs of more than 4 branches...).
  static QueryPtr queryWithClassName(std::string className, const Predicate& predicate);
  // A query whose constraints are "$or" of the subqueries, on their class.
  // Raises InvalidArgumentException "All elements should be BEQuerys" for a
  // null element and "All sub queries of an or query should be on the same
  // class" when the classes differ. An empty list gives a query without a
  // class. Subqueries with limit, skip, order, includes or selected keys are
  // refused when the find parameters are built.
  static QueryPtr orQueryWithSubqueries(const std::vector<QueryPtr>& queries);
  // A query on "_User".
  static QueryPtr queryForUser();

  // ---- Constraints (the table of wire operators is in the .cpp) -----------

  // The value itself; replaces any constraint map of the key.
  void whereKeyEqualTo(std::string_view key, const Value& value);
  void whereKeyNotEqualTo(std::string_view key, const Value& value);
  void whereKeyLessThan(std::string_view key, const Value& value);
  void whereKeyLessThanOrEqualTo(std::string_view key, const Value& value);
  void whereKeyGreaterThan(std::string_view key, const Value& value);
  void whereKeyGreaterThanOrEqualTo(std::string_view key, const Value& value);
  void whereKeyContainedIn(std::string_view key, const platform::Array& values);
  void whereKeyNotContainedIn(std::string_view key, const platform::Array& values);
  void whereKeyContainsAllObjectsInArray(std::string_view key, const platform::Array& values);
  void whereKeyNearGeoPoint(std::string_view key, const GeoPointPtr& point);
  void whereKeyNearGeoPointWithinRadians(std::string_view key, const GeoPointPtr& point, double radians);
  void whereKeyNearGeoPointWithinMiles(std::string_view key, const GeoPointPtr& point, double miles);
  void whereKeyNearGeoPointWithinKilometers(std::string_view key, const GeoPointPtr& point, double kilometers);
  void whereKeyWithinGeoBox(std::string_view key, const GeoPointPtr& southwest, const GeoPointPtr& northeast);
  // "$regex", and "$options" when the modifiers are not empty.
  void whereKeyMatchesRegex(std::string_view key, std::string_view regex, std::string_view modifiers = "");
  // Literal text anywhere, at the start, at the end.
  void whereKeyContainsString(std::string_view key, std::string_view text);
  void whereKeyHasPrefix(std::string_view key, std::string_view prefix);
  void whereKeyHasSuffix(std::string_view key, std::string_view suffix);
  void whereKeyExists(std::string_view key);
  void whereKeyDoesNotExist(std::string_view key);
  // The key points at an object the subquery finds (or does not).
  void whereKeyMatchesQuery(std::string_view key, const QueryPtr& query);
  void whereKeyDoesNotMatchQuery(std::string_view key, const QueryPtr& query);
  // The key's value equals the otherKey of an object the subquery finds.
  void whereKeyMatchesKeyInQuery(std::string_view key, std::string_view otherKey, const QueryPtr& query);
  void whereKeyDoesNotMatchKeyInQuery(std::string_view key, std::string_view otherKey, const QueryPtr& query);
  // Objects in the relation `key` of `object`.
  void whereRelatedToObject(const ObjectPtr& object, std::string_view key);
  // Asks the service to search the target class of the relation `key`.
  void redirectClassNameForKey(std::string_view key);

  // ---- Ordering, includes, keys ------------------------------------------------

  void orderByAscending(std::string_view key);
  void orderByDescending(std::string_view key);
  void addAscendingOrder(std::string_view key);
  void addDescendingOrder(std::string_view key);
  void orderBySortDescriptor(const SortDescriptor& descriptor);
  void orderBySortDescriptors(const std::vector<SortDescriptor>& descriptors);
  void includeKey(std::string_view key);
  void selectKeys(const std::vector<std::string>& keys);

  // ---- Settings -----------------------------------------------------------------

  long long limit() const noexcept { return limit_; }
  // -1: no limit.
  void setLimit(long long limit) { limit_ = limit; }
  long long skip() const noexcept { return skip_; }
  void setSkip(long long skip) { skip_ = skip; }
  int cachePolicy() const noexcept { return cachePolicy_.load(); }
  void setCachePolicy(int policy) { cachePolicy_.store(policy); }
  // Seconds; infinity unless set.
  double maxCacheAge() const noexcept { return maxCacheAge_.load(); }
  void setMaxCacheAge(double seconds) { maxCacheAge_.store(seconds); }
  bool trace() const noexcept { return trace_; }
  void setTrace(bool trace) { trace_ = trace; }
  // Further request parameters, sent as they are.
  platform::Dictionary& extraOptions() noexcept { return extraOptions_; }
  const std::string& backendClassName() const noexcept { return className_; }
  const std::optional<std::string>& order() const noexcept { return order_; }

  // ---- Running ------------------------------------------------------------------
  //
  // Every run uses the current session token. A second run while one is
  // outstanding, and a query on "_Installation", raise
  // InternalInconsistencyException ("This query has an outstanding network
  // connection. You have to wait until it's done." / InvalidArgumentException
  // "Cannot directly query the Installation class."). Network and server
  // failures are task errors. Blocking forms wait on the calling thread and
  // hand the error to the optional out-parameter; callback forms call back
  // on the main queue.

  // With the query's cache policy (policy 5 is refused by the runner here).
  std::vector<ObjectPtr> findObjects(std::optional<platform::Error>* error = nullptr);
  // Sets the limit to 1 (it stays 1); error 101 "no results matched the
  // query" when nothing matched.
  ObjectPtr getFirstObject(std::optional<platform::Error>* error = nullptr);
  // -1 on failure.
  long long countObjects(std::optional<platform::Error>* error = nullptr);
  // Replaces the constraints by equality on "objectId", skip 0, limit 1.
  // nullptr at once for an empty id.
  ObjectPtr getObjectWithId(std::string_view objectId, std::optional<platform::Error>* error = nullptr);
  static ObjectPtr getObjectOfClass(std::string className, std::string_view objectId,
                                    std::optional<platform::Error>* error = nullptr);
  static ObjectPtr getUserObjectWithId(std::string_view objectId, std::optional<platform::Error>* error = nullptr);

  // With the cache-then-network policy the work is done twice and the
  // callback called twice: first from the cache (a miss is error 120), then
  // from the network. The query stays running until the second run ends.
  void findObjectsInBackground(ObjectsCallback callback);
  void getFirstObjectInBackground(ObjectCallback callback);
  void countObjectsInBackground(CountCallback callback);
  void getObjectInBackgroundWithId(std::string_view objectId, ObjectCallback callback);

  // The run behind the forms above, with a policy from 0 to 4; it marks a
  // new run. With a prior task, it starts after that task succeeds and
  // belongs to the run already marked, if any.
  Task<std::vector<ObjectPtr>> findAsync(int cachePolicy);
  Task<std::vector<ObjectPtr>> findAsync(int cachePolicy, const Task<void>& after);
  Task<long long> countAsync(int cachePolicy);
  Task<long long> countAsync(int cachePolicy, const Task<void>& after);
  // Cancels the outstanding run: its result becomes a cancelled task.
  void cancel();

  // The parameters of the "find" command (see the .cpp for their table).
  // Raises InvalidArgumentException for a subquery of "$or" with limit, skip,
  // order, includes or selected keys.
  Value constructFindParams() const;
  std::string cacheKeyForFindCommand() const;
  // Whether the answer cache holds this query's answer, at most
  // maxCacheAge old.
  bool hasCachedResult() const;
  void clearCachedResult() const;
  static void clearAllCachedResults();

  // The literal pattern of a text: "\Q...\E", with every "\E" inside kept.
  static std::string regexForString(std::string_view text);

  std::string description() const override;

 private:
  void checkIfCommandIsRunning() const;
  platform::Dictionary& constraintsFor(std::string_view key);
  void addConstraint(std::string_view key, std::string_view op, const Value& operand);
  // After the ordering check of the value.
  void addOrderingConstraint(std::string_view key, std::string_view op, const Value& value);
  void whereKeyNearGeoPointWithin(std::string_view key, const GeoPointPtr& point, double radians);
  Value encodedConstraints() const;
  // Whether a run's end leaves the query idle, or a second run follows
  // (the network half of cache-then-network).
  enum class RunEnd { Idle, SecondRunFollows };
  // Marks a new run (raising as described above) and answers its token.
  CancellationTokenPtr markAsRunning();
  // Without a prior task (nullptr): a newly marked run; with one: the
  // current token.
  CancellationTokenPtr tokenForRun(const Task<void>* after);
  void clearTokenIfCurrent(const CancellationTokenPtr& token);
  // The find parameters of a count.
  Value constructCountParams() const;
  // The decoded answer of the "find" with these parameters, sent after the
  // prior task succeeded; notes the moment of sending in `submitted`.
  using TimePoint = std::chrono::steady_clock::time_point;
  Task<Value> runFind(const Value& params, int cachePolicy, const Task<void>* after,
                      const CancellationTokenPtr& token, RunEnd end, const std::shared_ptr<TimePoint>& submitted);
  Task<std::vector<ObjectPtr>> findAsync(int cachePolicy, const Task<void>* after, RunEnd end);
  Task<long long> countAsync(int cachePolicy, const Task<void>* after, RunEnd end);
  Task<ObjectPtr> firstObjectAsync(int cachePolicy, const Task<void>* after, RunEnd end);
  // Runs once, or twice for cache-then-network, calling back after each.
  template <class T>
  void runInBackground(const std::function<Task<T>(int, const Task<void>*, RunEnd)>& run,
                       typename Task<T>::ResultCallback callback);
  void prepareGetObject(std::string_view objectId);
  std::vector<ObjectPtr> objectsOfAnswer(const Value& answer) const;

  std::string className_;
  platform::Dictionary where_;
  std::vector<std::string> include_;
  std::optional<std::vector<std::string>> selectedKeys_;
  std::optional<std::string> order_;
  long long limit_ = -1;
  long long skip_ = 0;
  std::atomic<int> cachePolicy_{kCachePolicyIgnoreCache};
  std::atomic<double> maxCacheAge_{std::numeric_limits<double>::infinity()};
  bool trace_ = false;
  platform::Dictionary extraOptions_;

  // Guards the cancellation token: a query with a token is running.
  mutable std::mutex mutex_;
  CancellationTokenPtr cancellationToken_;
};

// A query on the backend class of a registered subclass T.
template <Subclassing T>
QueryPtr queryFor() {
  assertSubclassIsRegistered<T>();
  return Query::queryWithClassName(T::backendClassName());
}

}  // namespace backend
