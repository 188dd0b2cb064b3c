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

// key IN c (list or query), c IN key, key IN {constants}, key IN SELF.
void addIn(Query& query, const Comparison& comparison) {
  const Expression& left = comparison.left;
  const Expression& right = comparison.right;
  if (left.kind() == Kind::Constant && right.kind() == Kind::KeyPath)
    return query.whereKeyEqualTo(right.keyPath(), left.constantValue());
  if (left.kind() == Kind::KeyPath) {
    const std::string& key = left.keyPath();
    if (right.kind() == Kind::Constant) {
      if (auto subquery = right.constantValue().object<Query>()) return query.whereKeyMatchesQuery(key, subquery);
      if (const platform::Array* list = right.constantValue().array()) return query.whereKeyContainedIn(key, *list);
    }
    if (right.kind() == Kind::Aggregate) {
      if (auto constants = constantsOf(right)) return query.whereKeyContainedIn(key, *constants);
    }
    if (right.kind() == Kind::EvaluatedObject) return query.whereKeyExists(key);
  }
  refuse("An IN predicate must have a key path and a constant.");
}

void addNotIn(Query& query, const Comparison& comparison) {
  const Expression& right = comparison.right;
  if (comparison.left.kind() == Kind::KeyPath) {
    const std::string& key = comparison.left.keyPath();
    if (right.kind() == Kind::Constant) {
      if (auto subquery = right.constantValue().object<Query>()) return query.whereKeyDoesNotMatchQuery(key, subquery);
      if (const platform::Array* list = right.constantValue().array()) return query.whereKeyNotContainedIn(key, *list);
    }
    if (right.kind() == Kind::Aggregate) {
      if (auto constants = constantsOf(right)) return query.whereKeyNotContainedIn(key, *constants);
    }
    if (right.kind() == Kind::EvaluatedObject) return query.whereKeyDoesNotExist(key);
  }
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
