#include "wire_query.hpp"

#include <algorithm>

namespace tools {
namespace {

using platform::Value;

[[noreturn]] void refuse(const std::string& message) { throw WireQueryError(message); }

const platform::Array& listOperand(const Value& operand, const std::string& op) {
  if (!operand.isArray()) refuse(op + " needs a list");
  return *operand.array();
}

backend::GeoPointPtr pointOperand(const Value& operand, const std::string& op) {
  auto point = operand.object<backend::GeoPoint>();
  if (!point) refuse(op + " needs a GeoPoint");
  return point;
}

// {"className", "where", "limit", "skip", "order"} of a subquery.
backend::QueryPtr subqueryOf(const Value& spec, const std::string& op) {
  const Value className = spec["className"];
  if (!className.isString()) refuse(op + " needs a query with a className");
  auto query = queryFromWire(*className.string(), spec["where"]);
  if (const Value limit = spec["limit"]; limit.isString()) query->setLimit(std::stoll(*limit.string()));
  if (const Value skip = spec["skip"]; skip.isString()) query->setSkip(std::stoll(*skip.string()));
  if (const Value order = spec["order"]; order.isString()) addOrder(*query, *order.string());
  return query;
}

bool isConstraintMap(const Value& value) {
  const platform::Dictionary* entries = value.dictionary();
  if (!entries || entries->empty()) return false;
  for (const auto& [op, operand] : *entries) {
    if (op.empty() || op.front() != '$') return false;
  }
  return true;
}

void applyOperator(backend::Query& query, const std::string& key, const std::string& op, const Value& operand,
                   const platform::Dictionary& constraints) {
  if (op == "$lt") return query.whereKeyLessThan(key, operand);
  if (op == "$lte") return query.whereKeyLessThanOrEqualTo(key, operand);
  if (op == "$gt") return query.whereKeyGreaterThan(key, operand);
  if (op == "$gte") return query.whereKeyGreaterThanOrEqualTo(key, operand);
  if (op == "$ne") return query.whereKeyNotEqualTo(key, operand);
  if (op == "$in") return query.whereKeyContainedIn(key, listOperand(operand, op));
  if (op == "$nin") return query.whereKeyNotContainedIn(key, listOperand(operand, op));
  if (op == "$all") return query.whereKeyContainsAllObjectsInArray(key, listOperand(operand, op));
  if (op == "$exists") {
    if (!operand.isNumber()) refuse("$exists needs true or false");
    return operand.boolValue() ? query.whereKeyExists(key) : query.whereKeyDoesNotExist(key);
  }
  if (op == "$regex") {
    if (!operand.isString()) refuse("$regex needs a string");
    const Value options = constraints.get("$options");
    return query.whereKeyMatchesRegex(key, *operand.string(), options.isString() ? *options.string() : "");
  }
  if (op == "$nearSphere") {
    const Value distance = constraints.get("$maxDistance");
    if (distance.isNil()) return query.whereKeyNearGeoPoint(key, pointOperand(operand, op));
    if (!distance.isNumber()) refuse("$maxDistance needs a number of radians");
    return query.whereKeyNearGeoPointWithinRadians(key, pointOperand(operand, op), distance.doubleValue());
  }
  if (op == "$within") {
    const Value box = operand["$box"];
    if (!box.isArray() || box.array()->size() != 2) refuse("$within needs {\"$box\": [southwest, northeast]}");
    return query.whereKeyWithinGeoBox(key, pointOperand(box[std::size_t{0}], op), pointOperand(box[1], op));
  }
  if (op == "$inQuery") return query.whereKeyMatchesQuery(key, subqueryOf(operand, op));
  if (op == "$notInQuery") return query.whereKeyDoesNotMatchQuery(key, subqueryOf(operand, op));
  if (op == "$select" || op == "$dontSelect") {
    const Value otherKey = operand["key"];
    if (!otherKey.isString()) refuse(op + " needs {\"query\": ..., \"key\": name}");
    auto subquery = subqueryOf(operand["query"], op);
    return op == "$select" ? query.whereKeyMatchesKeyInQuery(key, *otherKey.string(), subquery)
                           : query.whereKeyDoesNotMatchKeyInQuery(key, *otherKey.string(), subquery);
  }
  // Modifiers read with the operator they belong to.
  if (op == "$options" || op == "$maxDistance") return;
  refuse("unsupported constraint " + op + " on \"" + key + "\"");
}

backend::QueryPtr startingQuery(const std::string& className, const Value& alternatives) {
  if (alternatives.isNil()) return backend::Query::queryWithClassName(className);
  std::vector<backend::QueryPtr> branches;
  for (const Value& branch : listOperand(alternatives, "$or")) branches.push_back(queryFromWire(className, branch));
  auto query = backend::Query::orQueryWithSubqueries(branches);
  // An empty list has no class to take.
  return branches.empty() ? backend::Query::queryWithClassName(className) : query;
}

}  // namespace

void addOrder(backend::Query& query, const std::string& keys) {
  std::size_t start = 0;
  while (start <= keys.size()) {
    const std::size_t comma = std::min(keys.find(',', start), keys.size());
    const std::string key = keys.substr(start, comma - start);
    if (key.empty() || key == "-") refuse("an empty key in the order \"" + keys + "\"");
    if (key.front() == '-') {
      query.addDescendingOrder(key.substr(1));
    } else {
      query.addAscendingOrder(key);
    }
    start = comma + 1;
  }
}

backend::QueryPtr queryFromWire(const std::string& className, const Value& where) {
  if (!where.isNil() && !where.isDictionary()) refuse("the constraints must be a JSON object");
  auto query = startingQuery(className, where["$or"]);
  if (where.isNil()) return query;
  for (const auto& [key, entry] : *where.dictionary()) {
    if (key == "$or") continue;
    if (key == "$relatedTo") {
      auto owner = entry["object"].object<backend::Object>();
      const Value relationKey = entry["key"];
      if (!owner || !relationKey.isString()) refuse("$relatedTo needs {\"object\": pointer, \"key\": name}");
      query->whereRelatedToObject(owner, *relationKey.string());
    } else if (!key.empty() && key.front() == '$') {
      refuse("unsupported top-level constraint " + key);
    } else if (isConstraintMap(entry)) {
      for (const auto& [op, operand] : *entry.dictionary()) applyOperator(*query, key, op, operand, *entry.dictionary());
    } else {
      query->whereKeyEqualTo(key, entry);
    }
  }
  return query;
}

}  // namespace tools
