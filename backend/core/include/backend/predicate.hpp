#pragma once
// Predicates: a small, immutable expression tree of comparisons joined by
// AND, OR and NOT, from which queries can be built (Query::queryWithClassName
// with a predicate). Build them with the operators in backend::predicates:
//
//   using namespace backend::predicates;
//   Predicate p = key("a") == 1 && (key("b") == 2 || key("c") < 3);
//   Predicate q = !key("x").in({1, 2});
//   Predicate r = key("n").between(1, 9);
//
// Operator, modifier and compound numbers are the platform's, so messages
// that name them read the same.

#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "platform/value.hpp"

namespace backend {

// One side of a comparison.
class Expression {
 public:
  enum class Kind { Constant, KeyPath, Aggregate, EvaluatedObject };

  // A constant value (which may be a query, for "key IN query").
  static Expression constant(platform::Value value);
  static Expression keyPath(std::string path);
  static Expression aggregate(std::vector<Expression> items);
  // The object being evaluated itself (SELF).
  static Expression evaluatedObject();

  Kind kind() const noexcept { return kind_; }
  const platform::Value& constantValue() const noexcept { return constant_; }
  const std::string& keyPath() const noexcept { return keyPath_; }
  const std::vector<Expression>& items() const noexcept { return items_; }

  bool equals(const Expression& other) const;
  std::string description() const;

 private:
  Kind kind_ = Kind::Constant;
  platform::Value constant_;
  std::string keyPath_;
  std::vector<Expression> items_;
};

enum class PredicateOperator : long {
  LessThan = 0,
  LessThanOrEqualTo = 1,
  GreaterThan = 2,
  GreaterThanOrEqualTo = 3,
  EqualTo = 4,
  NotEqualTo = 5,
  Matches = 6,
  Like = 7,
  BeginsWith = 8,
  EndsWith = 9,
  In = 10,
  CustomSelector = 11,
  Contains = 99,
  Between = 100,
};

enum class ComparisonModifier : long { Direct = 0, All = 1, Any = 2 };

// Comparison options (bit set).
enum ComparisonOption : unsigned {
  kCaseInsensitive = 1u << 0,
  kDiacriticInsensitive = 1u << 1,
};

enum class CompoundType : long { Not = 0, And = 1, Or = 2 };

class Predicate {
 public:
  struct Comparison {
    Expression left;
    PredicateOperator op = PredicateOperator::EqualTo;
    Expression right;
    ComparisonModifier modifier = ComparisonModifier::Direct;
    unsigned options = 0;
    std::string selector;  // for PredicateOperator::CustomSelector
  };
  struct Compound {
    CompoundType type = CompoundType::And;
    std::vector<Predicate> parts;
  };

  static Predicate of(Comparison comparison);
  static Predicate comparison(Expression left, PredicateOperator op, Expression right,
                              ComparisonModifier modifier = ComparisonModifier::Direct, unsigned options = 0);
  // left <selector> right, for custom selectors ("notContainedIn:").
  static Predicate customSelector(Expression left, std::string selector, Expression right);
  static Predicate compound(CompoundType type, std::vector<Predicate> parts);
  static Predicate notPredicate(Predicate inner);
  // The constant predicates (TRUEPREDICATE / FALSEPREDICATE). Queries cannot
  // be built from them.
  static Predicate truth(bool value);

  const Comparison* asComparison() const noexcept { return std::get_if<Comparison>(&node_->content); }
  const Compound* asCompound() const noexcept { return std::get_if<Compound>(&node_->content); }
  const bool* asTruth() const noexcept { return std::get_if<bool>(&node_->content); }

  // Structural equality.
  bool equals(const Predicate& other) const;
  // A readable rendering ("a == 1 AND (b == 2 OR c == 3)").
  std::string description() const;

 private:
  struct Node {
    std::variant<Comparison, Compound, bool> content;
  };
  explicit Predicate(std::variant<Comparison, Compound, bool> content);

  std::shared_ptr<const Node> node_;
};

namespace predicates {

// A key path expression with comparison builders.
class Key {
 public:
  explicit Key(std::string path) : path_(std::move(path)) {}
  const std::string& path() const noexcept { return path_; }
  operator Expression() const { return Expression::keyPath(path_); }

  // key IN {items}: an aggregate of constants.
  Predicate in(std::initializer_list<platform::Value> items) const;
  // key IN value (a list, or a query).
  Predicate in(platform::Value value) const;
  // key IN SELF.
  Predicate inEvaluatedObject() const;
  // key BETWEEN {low, high}.
  Predicate between(platform::Value low, platform::Value high) const;
  Predicate beginsWith(platform::Value prefix) const;
  Predicate endsWith(platform::Value suffix) const;
  Predicate contains(platform::Value text) const;
  Predicate matches(platform::Value pattern) const;
  Predicate like(platform::Value pattern) const;

 private:
  std::string path_;
};

inline Key key(std::string path) { return Key(std::move(path)); }

namespace detail {
template <class T>
Expression operand(const T& value) {
  if constexpr (std::is_convertible_v<T, Expression>) {
    return Expression(value);
  } else {
    return Expression::constant(platform::Value(value));
  }
}
template <class L, class R>
inline constexpr bool kBuildsComparison = std::is_same_v<L, Key> || std::is_same_v<R, Key>;

template <class L, class R>
Predicate compare(const L& left, PredicateOperator op, const R& right) {
  return Predicate::comparison(operand(left), op, operand(right));
}
}  // namespace detail

// Comparisons with a key on either side; the other side is a key or a value.
template <class L, class R, class = std::enable_if_t<detail::kBuildsComparison<L, R>>>
Predicate operator<(const L& left, const R& right) {
  return detail::compare(left, PredicateOperator::LessThan, right);
}
template <class L, class R, class = std::enable_if_t<detail::kBuildsComparison<L, R>>>
Predicate operator<=(const L& left, const R& right) {
  return detail::compare(left, PredicateOperator::LessThanOrEqualTo, right);
}
template <class L, class R, class = std::enable_if_t<detail::kBuildsComparison<L, R>>>
Predicate operator>(const L& left, const R& right) {
  return detail::compare(left, PredicateOperator::GreaterThan, right);
}
template <class L, class R, class = std::enable_if_t<detail::kBuildsComparison<L, R>>>
Predicate operator>=(const L& left, const R& right) {
  return detail::compare(left, PredicateOperator::GreaterThanOrEqualTo, right);
}
template <class L, class R, class = std::enable_if_t<detail::kBuildsComparison<L, R>>>
Predicate operator==(const L& left, const R& right) {
  return detail::compare(left, PredicateOperator::EqualTo, right);
}
template <class L, class R, class = std::enable_if_t<detail::kBuildsComparison<L, R>>>
Predicate operator!=(const L& left, const R& right) {
  return detail::compare(left, PredicateOperator::NotEqualTo, right);
}

inline Predicate operator&&(Predicate left, Predicate right) {
  return Predicate::compound(CompoundType::And, {std::move(left), std::move(right)});
}
inline Predicate operator||(Predicate left, Predicate right) {
  return Predicate::compound(CompoundType::Or, {std::move(left), std::move(right)});
}
inline Predicate operator!(Predicate inner) { return Predicate::notPredicate(std::move(inner)); }

}  // namespace predicates

}  // namespace backend
