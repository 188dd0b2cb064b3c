// Queries from predicates: the normalised tree mapped onto constraints.

#include "backend/query.hpp"
#include "platform/exceptions.hpp"
#include "predicate_normalizer.hpp"

namespace backend {
namespace {

using Comparison = Predicate::Comparison;
using Kind = Expression::Kind;

constexpr std::size_t kMaxOrBranches = 4;

[[noreturn]] void refuse(const std::string& message) { throw platform::InternalInconsistencyException(message); }

bool isKeyAndConstant(const Comparison& comparison) {
  return comparison.left.kind() == Kind::KeyPath && comparison.right.kind() == Kind::Constant;
}

// The constants of an aggregate, or nullopt when an item is not a constant.
std::optional<platform::Array> constantsOf(const Expression& aggregate) {
  platform::Array constants;
  for (const auto& item : aggregate.items()) {
    if (item.kind() != Kind::Constant) return std::nullopt;
    constants.push_back(item.constantValue());
  }
  return constants;
}

void addKeyConstantComparison(Query& query, const Predicate& predicate, const Comparison& comparison) {
  if (!isKeyAndConstant(comparison))
    refuse("This predicate must have a key path and a constant. " + predicate.description());
  const std::string& key = comparison.left.keyPath();
  const Value& value = comparison.right.constantValue();
  switch (comparison.op) {
    case PredicateOperator::LessThan: return query.whereKeyLessThan(key, value);
    case PredicateOperator::LessThanOrEqualTo: return query.whereKeyLessThanOrEqualTo(key, value);
    case PredicateOperator::GreaterThan: return query.whereKeyGreaterThan(key, value);
    case PredicateOperator::GreaterThanOrEqualTo: return query.whereKeyGreaterThanOrEqualTo(key, value);
    case PredicateOperator::EqualTo: return query.whereKeyEqualTo(key, value.isNil() ? Value::null() : value);
    case PredicateOperator::NotEqualTo: return query.whereKeyNotEqualTo(key, value.isNil() ? Value::null() : value);
    case PredicateOperator::BeginsWith:
      if (!value.isString()) refuse("This predicate must have a key path and a constant. " + predicate.description());
      return query.whereKeyHasPrefix(key, *value.string());
    default: break;
  }
}

// key IN (or NOT IN) a query, a constant list, an aggregate of constants or
// the evaluated object. False for any other form.
bool addMembership(Query& query, const Comparison& comparison, bool negated) {
  if (comparison.left.kind() != Kind::KeyPath) return false;
  const std::string& key = comparison.left.keyPath();
  const Expression& right = comparison.right;
  std::optional<platform::Array> list;
  if (right.kind() == Kind::Constant) {
    if (auto subquery = right.constantValue().object<Query>()) {
      negated ? query.whereKeyDoesNotMatchQuery(key, subquery) : query.whereKeyMatchesQuery(key, subquery);
      return true;
    }
    if (const platform::Array* constants = right.constantValue().array()) list = *constants;
  } else if (right.kind() == Kind::Aggregate) {
    list = constantsOf(right);
  } else if (right.kind() == Kind::EvaluatedObject) {
    negated ? query.whereKeyDoesNotExist(key) : query.whereKeyExists(key);
    return true;
  }
  if (!list) return false;
  negated ? query.whereKeyNotContainedIn(key, *list) : query.whereKeyContainedIn(key, *list);
  return true;
}

void addIn(Query& query, const Comparison& comparison) {
  if (comparison.left.kind() == Kind::Constant && comparison.right.kind() == Kind::KeyPath)
    return query.whereKeyEqualTo(comparison.right.keyPath(), comparison.left.constantValue());
  if (!addMembership(query, comparison, false)) refuse("An IN predicate must have a key path and a constant.");
}

void addNotIn(Query& query, const Comparison& comparison) {
  if (!addMembership(query, comparison, true))
    refuse("A NOT IN predicate must have a key path and a constant array.");
}

void addComparison(Query& query, const Predicate& predicate) {
  const Comparison& comparison = *predicate.asComparison();
  switch (comparison.op) {
    case PredicateOperator::LessThan:
    case PredicateOperator::LessThanOrEqualTo:
    case PredicateOperator::GreaterThan:
    case PredicateOperator::GreaterThanOrEqualTo:
    case PredicateOperator::EqualTo:
    case PredicateOperator::NotEqualTo:
    case PredicateOperator::BeginsWith:
      return addKeyConstantComparison(query, predicate, comparison);
    case PredicateOperator::Matches:
    case PredicateOperator::EndsWith:
    case PredicateOperator::Contains:
      refuse("Regex queries are not supported with [BEQuery queryWithClassName:predicate:]. Please try to structure "
             "your data so that you can use an equalTo or containedIn query.");
    case PredicateOperator::Like:
      refuse("LIKE is not supported by BEQuery.");
    case PredicateOperator::Between:
      refuse("A BETWEEN predicate could not be expanded.");
    case PredicateOperator::In:
      return addIn(query, comparison);
    case PredicateOperator::CustomSelector:
      if (comparison.selector == "notContainedIn:") return addNotIn(query, comparison);
      refuse("Predicates with custom selectors are not supported.");
  }
  refuse("This comparison predicate is not supported. (" + std::to_string(static_cast<long>(comparison.op)) + ")");
}

QueryPtr queryOf(const std::string& className, const Predicate& predicate);

QueryPtr orQuery(const std::string& className, const Predicate::Compound& branches) {
  if (branches.parts.size() > kMaxOrBranches)
    refuse("This query is too complex. It had an OR with >4 subpredicates after normalization.");
  std::vector<QueryPtr> subqueries;
  subqueries.reserve(branches.parts.size());
  for (const auto& branch : branches.parts) subqueries.push_back(queryOf(className, branch));
  auto query = Query::orQueryWithSubqueries(subqueries);
  return query;
}

QueryPtr andQuery(const std::string& className, const Predicate& predicate, const Predicate::Compound& parts) {
  const Predicate* orPart = nullptr;
  for (const auto& part : parts.parts) {
    auto* compound = part.asCompound();
    if (!compound) continue;
    if (compound->type != CompoundType::Or)
      refuse("A predicate had a non-comparison predicate inside an AND after normalization. " +
             predicate.description());
    if (orPart) refuse("A query had 2 ORs in an AND after normalization. " + predicate.description());
    orPart = &part;
  }
  QueryPtr query = orPart ? orQuery(className, *orPart->asCompound()) : Query::queryWithClassName(className);
  for (const auto& part : parts.parts) {
    if (part.asComparison()) addComparison(*query, part);
  }
  return query;
}

QueryPtr queryOf(const std::string& className, const Predicate& predicate) {
  if (predicate.asComparison()) {
    auto query = Query::queryWithClassName(className);
    addComparison(*query, predicate);
    return query;
  }
  auto* compound = predicate.asCompound();
  if (!compound) refuse("Expression predicates are not supported.");
  switch (compound->type) {
    case CompoundType::Or: return orQuery(className, *compound);
    case CompoundType::And: return andQuery(className, predicate, *compound);
    case CompoundType::Not: refuse("A predicate had a NOT after normalization. " + predicate.description());
  }
  refuse("Unknown predicate type.");
}

}  // namespace

QueryPtr Query::queryWithClassName(std::string className, const Predicate& predicate) {
  return queryOf(className, detail::normalizePredicate(predicate));
}

}  // namespace backend
