#include "predicate_normalizer.hpp"

#include <functional>
#include <string>
#include <vector>

#include "platform/exceptions.hpp"

namespace backend::detail {
namespace {

using platform::InternalInconsistencyException;
using Comparison = Predicate::Comparison;
using Group = std::vector<Predicate>;  // conditions joined by AND

[[noreturn]] void refuse(const std::string& message) { throw InternalInconsistencyException(message); }

// Rebuilds the tree bottom-up, handing each comparison to `map`; refuses
// the constant predicates, which no step can express.
Predicate mapComparisons(const Predicate& predicate, const std::function<Predicate(const Comparison&)>& map) {
  if (auto* comparison = predicate.asComparison()) return map(*comparison);
  if (auto* compound = predicate.asCompound()) {
    std::vector<Predicate> parts;
    parts.reserve(compound->parts.size());
    for (const auto& part : compound->parts) parts.push_back(mapComparisons(part, map));
    return Predicate::compound(compound->type, std::move(parts));
  }
  refuse("NSExpression predicates are not supported.");
}

Predicate withOperator(const Comparison& comparison, PredicateOperator op) {
  return Predicate::comparison(comparison.left, op, comparison.right, comparison.modifier, comparison.options);
}

// ---- Step 1: modifiers ------------------------------------------------------------

Predicate refuseModifiers(const Comparison& comparison) {
  if (comparison.modifier != ComparisonModifier::Direct)
    refuse("Unsupported comparison predicate modifier " + std::to_string(static_cast<long>(comparison.modifier)) + ".");
  return Predicate::of(comparison);
}

// ---- Step 2: BETWEEN --------------------------------------------------------------

std::vector<Expression> betweenBounds(const Expression& right) {
  if (right.kind() == Expression::Kind::Aggregate) {
    if (right.items().size() != 2) refuse("The right-hand side of a BETWEEN operation must have 2 items.");
    return right.items();
  }
  if (right.kind() != Expression::Kind::Constant)
    refuse("The right-hand side of a BETWEEN operation must be a value or literal.");
  const platform::Array* bounds = right.constantValue().array();
  if (!bounds) refuse("The right-hand side of a BETWEEN operation must be an array.");
  if (bounds->size() != 2) refuse("The right-hand side of a BETWEEN operation must have 2 items.");
  return {Expression::constant((*bounds)[0]), Expression::constant((*bounds)[1])};
}

Predicate expandBetween(const Comparison& comparison) {
  if (comparison.op != PredicateOperator::Between) return Predicate::of(comparison);
  const auto bounds = betweenBounds(comparison.right);
  return Predicate::compound(
      CompoundType::And,
      {Predicate::comparison(comparison.left, PredicateOperator::GreaterThanOrEqualTo, bounds[0], comparison.modifier,
                             comparison.options),
       Predicate::comparison(comparison.left, PredicateOperator::LessThanOrEqualTo, bounds[1], comparison.modifier,
                             comparison.options)});
}

// ---- Step 3: constant first ---------------------------------------------------------

Predicate keyFirst(const Comparison& comparison) {
  if (comparison.left.kind() != Expression::Kind::Constant || comparison.right.kind() != Expression::Kind::KeyPath)
    return Predicate::of(comparison);
  auto swapped = [&](PredicateOperator op) {
    return Predicate::comparison(comparison.right, op, comparison.left, comparison.modifier, comparison.options);
  };
  switch (comparison.op) {
    case PredicateOperator::LessThan: return swapped(PredicateOperator::GreaterThan);
    case PredicateOperator::GreaterThan: return swapped(PredicateOperator::LessThan);
    case PredicateOperator::LessThanOrEqualTo: return swapped(PredicateOperator::GreaterThanOrEqualTo);
    case PredicateOperator::GreaterThanOrEqualTo: return swapped(PredicateOperator::LessThanOrEqualTo);
    case PredicateOperator::EqualTo:
    case PredicateOperator::In: return swapped(PredicateOperator::EqualTo);
    case PredicateOperator::NotEqualTo: return swapped(PredicateOperator::NotEqualTo);
    default: return Predicate::of(comparison);
  }
}

// ---- Step 4: NOT ------------------------------------------------------------------

Predicate negated(const Predicate& predicate);

Predicate negatedComparison(const Predicate& predicate, const Comparison& comparison) {
  switch (comparison.op) {
    case PredicateOperator::LessThan: return withOperator(comparison, PredicateOperator::GreaterThanOrEqualTo);
    case PredicateOperator::GreaterThanOrEqualTo: return withOperator(comparison, PredicateOperator::LessThan);
    case PredicateOperator::LessThanOrEqualTo: return withOperator(comparison, PredicateOperator::GreaterThan);
    case PredicateOperator::GreaterThan: return withOperator(comparison, PredicateOperator::LessThanOrEqualTo);
    case PredicateOperator::EqualTo: return withOperator(comparison, PredicateOperator::NotEqualTo);
    case PredicateOperator::NotEqualTo: return withOperator(comparison, PredicateOperator::EqualTo);
    case PredicateOperator::In:
      if (comparison.left.kind() == Expression::Kind::KeyPath)
        return Predicate::customSelector(comparison.left, "notContainedIn:", comparison.right);
      break;
    default:
      break;
  }
  refuse("This comparison predicate cannot be negated. (" + predicate.description() + ")");
}

Predicate negatedParts(const std::vector<Predicate>& parts, CompoundType type) {
  std::vector<Predicate> negations;
  negations.reserve(parts.size());
  for (const auto& part : parts) negations.push_back(negated(part));
  return Predicate::compound(type, std::move(negations));
}

Predicate withoutNot(const Predicate& predicate);

Predicate negated(const Predicate& predicate) {
  if (auto* comparison = predicate.asComparison()) return negatedComparison(predicate, *comparison);
  auto* compound = predicate.asCompound();
  if (!compound) refuse("NSExpression predicates are not supported.");
  switch (compound->type) {
    case CompoundType::Not: return withoutNot(compound->parts.front());
    case CompoundType::And: return negatedParts(compound->parts, CompoundType::Or);
    case CompoundType::Or: return negatedParts(compound->parts, CompoundType::And);
  }
  refuse("This compound predicate cannot be negated. (" + std::to_string(static_cast<long>(compound->type)) + ")");
}

Predicate withoutNot(const Predicate& predicate) {
  auto* compound = predicate.asCompound();
  if (!compound) return predicate;
  if (compound->type == CompoundType::Not) return negated(compound->parts.front());
  std::vector<Predicate> parts;
  parts.reserve(compound->parts.size());
  for (const auto& part : compound->parts) parts.push_back(withoutNot(part));
  return Predicate::compound(compound->type, std::move(parts));
}

// ---- Step 5: OR of ANDs ----------------------------------------------------------

std::vector<Group> orOfAnds(const Predicate& predicate) {
  auto* compound = predicate.asCompound();
  if (!compound) return {{predicate}};
  std::vector<Group> groups;
  if (compound->type == CompoundType::Or) {
    for (const auto& part : compound->parts) {
      for (auto& group : orOfAnds(part)) groups.push_back(std::move(group));
    }
    return groups;
  }
  if (compound->type != CompoundType::And)
    refuse("[BEQuery asOrOfAnds:] was passed a compound query that wasn't OR or AND.");
  // Multiplied out: every combination of one branch of each part.
  groups.push_back({});
  for (const auto& part : compound->parts) {
    std::vector<Group> next;
    for (const auto& branch : orOfAnds(part)) {
      for (const auto& group : groups) {
        Group joined = group;
        joined.insert(joined.end(), branch.begin(), branch.end());
        next.push_back(std::move(joined));
      }
    }
    groups = std::move(next);
  }
  return groups;
}

Predicate joined(const Group& group) {
  return group.size() == 1 ? group.front() : Predicate::compound(CompoundType::And, group);
}

Predicate fromGroups(const std::vector<Group>& groups) {
  if (groups.size() == 1) return joined(groups.front());
  std::vector<Predicate> branches;
  branches.reserve(groups.size());
  for (const auto& group : groups) branches.push_back(joined(group));
  return Predicate::compound(CompoundType::Or, std::move(branches));
}

// ---- Step 6: hoisting -----------------------------------------------------------

bool contains(const Group& group, const Predicate& condition) {
  for (const auto& member : group) {
    if (member.equals(condition)) return true;
  }
  return false;
}

Predicate hoistCommonConditions(const std::vector<Group>& groups) {
  if (groups.size() < 2) return fromGroups(groups);
  Group common;
  for (const auto& condition : groups.front()) {
    bool everywhere = true;
    for (const auto& group : groups) everywhere = everywhere && contains(group, condition);
    if (everywhere && !contains(common, condition)) common.push_back(condition);
  }
  if (common.empty()) return fromGroups(groups);

  std::vector<Group> reduced;
  for (const auto& group : groups) {
    Group rest;
    for (const auto& condition : group) {
      if (!contains(common, condition)) rest.push_back(condition);
    }
    // One branch needs nothing beyond the common conditions: the OR holds.
    if (rest.empty()) return Predicate::compound(CompoundType::And, common);
    reduced.push_back(std::move(rest));
  }
  Group hoisted{fromGroups(reduced)};
  hoisted.insert(hoisted.end(), common.begin(), common.end());
  return Predicate::compound(CompoundType::And, std::move(hoisted));
}

}  // namespace

Predicate normalizePredicate(const Predicate& predicate) {
  Predicate normalized = mapComparisons(predicate, refuseModifiers);
  normalized = mapComparisons(normalized, expandBetween);
  normalized = mapComparisons(normalized, keyFirst);
  normalized = withoutNot(normalized);
  if (!normalized.asCompound()) return normalized;
  return hoistCommonConditions(orOfAnds(normalized));
}

}  // namespace backend::detail
