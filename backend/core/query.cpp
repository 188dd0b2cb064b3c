// Building queries: creation, constraints, ordering, includes and keys.
//
// Constraint entries under a key (operands in typed form on the wire):
//   equalTo                      the value itself
//   greater/less (or equal)      "$gt" "$gte" "$lt" "$lte"
//   notEqualTo                   "$ne"
//   containedIn / notContainedIn "$in" / "$nin": the list
//   containsAllObjectsInArray    "$all": the list
//   nearGeoPoint                 "$nearSphere", with "$maxDistance" in radians
//   withinGeoBox                 "$within": {"$box": [southwest, northeast]}
//   matchesRegex                 "$regex", "$options"
//   exists / doesNotExist        "$exists": true / false
//   matchesQuery / doesNotMatch  "$inQuery" / "$notInQuery": the query
//   matchesKey:inQuery           "$select" / "$dontSelect": {"query", "key"}
//   relatedTo (top level)        "$relatedTo": {"object", "key"}

#include "backend/query.hpp"

#include "backend/internal/internal_utils.hpp"
#include "platform/exceptions.hpp"

namespace backend {
namespace {

bool isConstraintMap(const Value& entry) { return entry.isDictionary(); }

}  // namespace

Query::Query(std::string className) : className_(std::move(className)) {}

QueryPtr Query::queryWithClassName(std::string className) { return std::make_shared<Query>(std::move(className)); }

QueryPtr Query::queryForUser() { return queryWithClassName("_User"); }

QueryPtr Query::orQueryWithSubqueries(const std::vector<QueryPtr>& queries) {
  std::optional<std::string> className;
  platform::Array subqueries;
  subqueries.reserve(queries.size());
  for (const auto& query : queries) {
    if (!query) throw platform::InvalidArgumentException("All elements should be BEQuerys");
    if (className && *className != query->backendClassName())
      throw platform::InvalidArgumentException("All sub queries of an or query should be on the same class");
    className = query->backendClassName();
    subqueries.push_back(Value(query));
  }
  auto query = queryWithClassName(className.value_or(""));
  query->where_.set("$or", Value(std::move(subqueries)));
  return query;
}

// ---- Constraints -------------------------------------------------------------------

void Query::checkIfCommandIsRunning() const {
  std::lock_guard lock(mutex_);
  if (cancellationToken_)
    throw platform::InternalInconsistencyException(
        "This query has an outstanding network connection. You have to wait until it's done.");
}

platform::Dictionary& Query::constraintsFor(std::string_view key) {
  Value* entry = where_.find(key);
  if (!entry || !isConstraintMap(*entry)) {
    where_.set(std::string(key), Value::emptyDictionary());
    entry = where_.find(key);
  }
  return *entry->dictionary();
}

void Query::addConstraint(std::string_view key, std::string_view op, const Value& operand) {
  checkIfCommandIsRunning();
  constraintsFor(key).set(std::string(op), operand);
}

void Query::whereKeyEqualTo(std::string_view key, const Value& value) {
  checkIfCommandIsRunning();
  InternalUtils::assertValidClassForQuery(value);
  where_.set(std::string(key), value);
}

void Query::whereKeyNotEqualTo(std::string_view key, const Value& value) {
  InternalUtils::assertValidClassForQuery(value);
  addConstraint(key, "$ne", value);
}

void Query::addOrderingConstraint(std::string_view key, std::string_view op, const Value& value) {
  InternalUtils::assertValidClassForOrdering(value);
  addConstraint(key, op, value);
}

void Query::whereKeyLessThan(std::string_view key, const Value& value) { addOrderingConstraint(key, "$lt", value); }

void Query::whereKeyLessThanOrEqualTo(std::string_view key, const Value& value) {
  addOrderingConstraint(key, "$lte", value);
}

void Query::whereKeyGreaterThan(std::string_view key, const Value& value) {
  addOrderingConstraint(key, "$gt", value);
}

void Query::whereKeyGreaterThanOrEqualTo(std::string_view key, const Value& value) {
  addOrderingConstraint(key, "$gte", value);
}

void Query::whereKeyContainedIn(std::string_view key, const platform::Array& values) {
  addConstraint(key, "$in", Value(values));
}

void Query::whereKeyNotContainedIn(std::string_view key, const platform::Array& values) {
  addConstraint(key, "$nin", Value(values));
}

void Query::whereKeyContainsAllObjectsInArray(std::string_view key, const platform::Array& values) {
  addConstraint(key, "$all", Value(values));
}

void Query::whereKeyNearGeoPoint(std::string_view key, const GeoPointPtr& point) {
  addConstraint(key, "$nearSphere", Value(point));
}

void Query::whereKeyNearGeoPointWithin(std::string_view key, const GeoPointPtr& point, double radians) {
  addConstraint(key, "$nearSphere", Value(point));
  addConstraint(key, "$maxDistance", Value(radians));
}

void Query::whereKeyNearGeoPointWithinRadians(std::string_view key, const GeoPointPtr& point, double radians) {
  whereKeyNearGeoPointWithin(key, point, radians);
}

void Query::whereKeyNearGeoPointWithinMiles(std::string_view key, const GeoPointPtr& point, double miles) {
  whereKeyNearGeoPointWithin(key, point, miles / GeoPoint::kEarthRadiusMiles);
}

void Query::whereKeyNearGeoPointWithinKilometers(std::string_view key, const GeoPointPtr& point,
                                                 double kilometers) {
  whereKeyNearGeoPointWithin(key, point, kilometers / GeoPoint::kEarthRadiusKilometers);
}

void Query::whereKeyWithinGeoBox(std::string_view key, const GeoPointPtr& southwest, const GeoPointPtr& northeast) {
  addConstraint(key, "$within", Value::dictionary({{"$box", Value::array({Value(southwest), Value(northeast)})}}));
}

void Query::whereKeyMatchesRegex(std::string_view key, std::string_view regex, std::string_view modifiers) {
  addConstraint(key, "$regex", Value(regex));
  if (!modifiers.empty()) addConstraint(key, "$options", Value(modifiers));
}

void Query::whereKeyContainsString(std::string_view key, std::string_view text) {
  whereKeyMatchesRegex(key, regexForString(text));
}

void Query::whereKeyHasPrefix(std::string_view key, std::string_view prefix) {
  whereKeyMatchesRegex(key, "^" + regexForString(prefix));
}

void Query::whereKeyHasSuffix(std::string_view key, std::string_view suffix) {
  whereKeyMatchesRegex(key, regexForString(suffix) + "$");
}

void Query::whereKeyExists(std::string_view key) { addConstraint(key, "$exists", Value(true)); }

void Query::whereKeyDoesNotExist(std::string_view key) { addConstraint(key, "$exists", Value(false)); }

void Query::whereKeyMatchesQuery(std::string_view key, const QueryPtr& query) {
  addConstraint(key, "$inQuery", Value(query));
}

void Query::whereKeyDoesNotMatchQuery(std::string_view key, const QueryPtr& query) {
  addConstraint(key, "$notInQuery", Value(query));
}

void Query::whereKeyMatchesKeyInQuery(std::string_view key, std::string_view otherKey, const QueryPtr& query) {
  addConstraint(key, "$select", Value::dictionary({{"query", Value(query)}, {"key", Value(otherKey)}}));
}

void Query::whereKeyDoesNotMatchKeyInQuery(std::string_view key, std::string_view otherKey, const QueryPtr& query) {
  addConstraint(key, "$dontSelect", Value::dictionary({{"query", Value(query)}, {"key", Value(otherKey)}}));
}

void Query::whereRelatedToObject(const ObjectPtr& object, std::string_view key) {
  where_.set("$relatedTo", Value::dictionary({{"object", Value(object)}, {"key", Value(key)}}));
}

void Query::redirectClassNameForKey(std::string_view key) {
  extraOptions_.set("redirectClassNameForKey", Value(key));
}

// ---- Ordering, includes, keys ------------------------------------------------------

void Query::orderByAscending(std::string_view key) {
  checkIfCommandIsRunning();
  order_ = std::string(key);
}

void Query::orderByDescending(std::string_view key) {
  checkIfCommandIsRunning();
  order_ = "-" + std::string(key);
}

void Query::addAscendingOrder(std::string_view key) {
  checkIfCommandIsRunning();
  order_ = order_ ? *order_ + "," + std::string(key) : std::string(key);
}

void Query::addDescendingOrder(std::string_view key) {
  checkIfCommandIsRunning();
  order_ = order_ ? *order_ + ",-" + std::string(key) : "-" + std::string(key);
}

void Query::orderBySortDescriptor(const SortDescriptor& descriptor) {
  if (descriptor.ascending) {
    orderByAscending(descriptor.key);
  } else {
    orderByDescending(descriptor.key);
  }
}

void Query::orderBySortDescriptors(const std::vector<SortDescriptor>& descriptors) {
  // Checked first, so a running query keeps its order.
  checkIfCommandIsRunning();
  order_.reset();
  for (const auto& descriptor : descriptors) {
    if (descriptor.ascending) {
      addAscendingOrder(descriptor.key);
    } else {
      addDescendingOrder(descriptor.key);
    }
  }
}

void Query::includeKey(std::string_view key) {
  checkIfCommandIsRunning();
  include_.emplace_back(key);
}

void Query::selectKeys(const std::vector<std::string>& keys) {
  checkIfCommandIsRunning();
  if (!selectedKeys_) selectedKeys_.emplace();
  selectedKeys_->insert(selectedKeys_->end(), keys.begin(), keys.end());
}

// ---- Text ---------------------------------------------------------------------------

std::string Query::regexForString(std::string_view text) {
  // "\E" would end the literal span early: each one closes the span, is
  // written as an escaped backslash and an "E", and a new span opens.
  std::string pattern;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find("\\E", start);
    pattern += "\\Q";
    pattern += text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    pattern += "\\E";
    if (end == std::string_view::npos) return pattern;
    pattern += "\\\\E";
    start = end + 2;
  }
}

std::string Query::description() const {
  return "<Query: className=" + className_ + ", where=" + Value(where_).description() + ">";
}

}  // namespace backend
