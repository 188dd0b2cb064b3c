#include "backend/predicate.hpp"

namespace backend {
namespace {

const char* operatorSymbol(PredicateOperator op) {
  switch (op) {
    case PredicateOperator::LessThan: return "<";
    case PredicateOperator::LessThanOrEqualTo: return "<=";
    case PredicateOperator::GreaterThan: return ">";
    case PredicateOperator::GreaterThanOrEqualTo: return ">=";
    case PredicateOperator::EqualTo: return "==";
    case PredicateOperator::NotEqualTo: return "!=";
    case PredicateOperator::Matches: return "MATCHES";
    case PredicateOperator::Like: return "LIKE";
    case PredicateOperator::BeginsWith: return "BEGINSWITH";
    case PredicateOperator::EndsWith: return "ENDSWITH";
    case PredicateOperator::In: return "IN";
    case PredicateOperator::CustomSelector: return "";
    case PredicateOperator::Contains: return "CONTAINS";
    case PredicateOperator::Between: return "BETWEEN";
  }
  return "?";
}

const char* modifierPrefix(ComparisonModifier modifier) {
  switch (modifier) {
    case ComparisonModifier::All: return "ALL ";
    case ComparisonModifier::Any: return "ANY ";
    case ComparisonModifier::Direct: break;
  }
  return "";
}

std::string optionSuffix(unsigned options) {
  std::string suffix;
  if (options & kCaseInsensitive) suffix += "c";
  if (options & kDiacriticInsensitive) suffix += "d";
  return suffix.empty() ? suffix : "[" + suffix + "]";
}

bool sameItems(const std::vector<Expression>& a, const std::vector<Expression>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!a[i].equals(b[i])) return false;
  }
  return true;
}

std::string partDescription(const Predicate& part) {
  // Compound parts are parenthesised so the rendering reads unambiguously.
  return part.asCompound() ? "(" + part.description() + ")" : part.description();
}

}  // namespace

// ---- Expression ----------------------------------------------------------------

Expression Expression::constant(platform::Value value) {
  Expression expression;
  expression.kind_ = Kind::Constant;
  expression.constant_ = std::move(value);
  return expression;
}

Expression Expression::keyPath(std::string path) {
  Expression expression;
  expression.kind_ = Kind::KeyPath;
  expression.keyPath_ = std::move(path);
  return expression;
}

Expression Expression::aggregate(std::vector<Expression> items) {
  Expression expression;
  expression.kind_ = Kind::Aggregate;
  expression.items_ = std::move(items);
  return expression;
}

Expression Expression::evaluatedObject() {
  Expression expression;
  expression.kind_ = Kind::EvaluatedObject;
  return expression;
}

bool Expression::equals(const Expression& other) const {
  if (kind_ != other.kind_) return false;
  switch (kind_) {
    case Kind::Constant: return constant_ == other.constant_;
    case Kind::KeyPath: return keyPath_ == other.keyPath_;
    case Kind::Aggregate: return sameItems(items_, other.items_);
    case Kind::EvaluatedObject: return true;
  }
  return false;
}

std::string Expression::description() const {
  switch (kind_) {
    case Kind::Constant:
      return constant_.isString() ? "\"" + *constant_.string() + "\"" : constant_.description();
    case Kind::KeyPath:
      return keyPath_;
    case Kind::Aggregate: {
      std::string text = "{";
      for (std::size_t i = 0; i < items_.size(); ++i) text += (i ? ", " : "") + items_[i].description();
      return text + "}";
    }
    case Kind::EvaluatedObject:
      return "SELF";
  }
  return "";
}

// ---- Predicate -----------------------------------------------------------------

Predicate::Predicate(std::variant<Comparison, Compound, bool> content)
    : node_(std::make_shared<const Node>(Node{std::move(content)})) {}

Predicate Predicate::of(Comparison comparison) { return Predicate(std::move(comparison)); }

Predicate Predicate::comparison(Expression left, PredicateOperator op, Expression right, ComparisonModifier modifier,
                                unsigned options) {
  return Predicate(Comparison{std::move(left), op, std::move(right), modifier, options, {}});
}

Predicate Predicate::customSelector(Expression left, std::string selector, Expression right) {
  return Predicate(Comparison{std::move(left), PredicateOperator::CustomSelector, std::move(right),
                              ComparisonModifier::Direct, 0, std::move(selector)});
}

Predicate Predicate::compound(CompoundType type, std::vector<Predicate> parts) {
  return Predicate(Compound{type, std::move(parts)});
}

Predicate Predicate::notPredicate(Predicate inner) { return compound(CompoundType::Not, {std::move(inner)}); }

Predicate Predicate::truth(bool value) { return Predicate(value); }

bool Predicate::equals(const Predicate& other) const {
  if (node_ == other.node_) return true;
  if (auto* a = asComparison()) {
    auto* b = other.asComparison();
    return b && a->op == b->op && a->modifier == b->modifier && a->options == b->options &&
           a->selector == b->selector && a->left.equals(b->left) && a->right.equals(b->right);
  }
  if (auto* a = asCompound()) {
    auto* b = other.asCompound();
    if (!b || a->type != b->type || a->parts.size() != b->parts.size()) return false;
    for (std::size_t i = 0; i < a->parts.size(); ++i) {
      if (!a->parts[i].equals(b->parts[i])) return false;
    }
    return true;
  }
  auto* b = other.asTruth();
  return b && *b == *asTruth();
}

std::string Predicate::description() const {
  if (auto* comparison = asComparison()) {
    if (comparison->op == PredicateOperator::CustomSelector)
      return comparison->left.description() + " " + comparison->selector + " " + comparison->right.description();
    return modifierPrefix(comparison->modifier) + comparison->left.description() + " " +
           operatorSymbol(comparison->op) + optionSuffix(comparison->options) + " " +
           comparison->right.description();
  }
  if (auto* compound = asCompound()) {
    if (compound->type == CompoundType::Not)
      return "NOT " + (compound->parts.empty() ? std::string() : partDescription(compound->parts.front()));
    const char* joint = compound->type == CompoundType::And ? " AND " : " OR ";
    std::string text;
    for (std::size_t i = 0; i < compound->parts.size(); ++i)
      text += (i ? joint : "") + partDescription(compound->parts[i]);
    return text;
  }
  return *asTruth() ? "TRUEPREDICATE" : "FALSEPREDICATE";
}

// ---- Builders --------------------------------------------------------------------

namespace predicates {

Predicate Key::in(std::initializer_list<platform::Value> items) const {
  std::vector<Expression> constants;
  constants.reserve(items.size());
  for (const auto& item : items) constants.push_back(Expression::constant(item));
  return Predicate::comparison(*this, PredicateOperator::In, Expression::aggregate(std::move(constants)));
}

Predicate Key::in(platform::Value value) const {
  return Predicate::comparison(*this, PredicateOperator::In, Expression::constant(std::move(value)));
}

Predicate Key::inEvaluatedObject() const {
  return Predicate::comparison(*this, PredicateOperator::In, Expression::evaluatedObject());
}

Predicate Key::between(platform::Value low, platform::Value high) const {
  return Predicate::comparison(
      *this, PredicateOperator::Between,
      Expression::aggregate({Expression::constant(std::move(low)), Expression::constant(std::move(high))}));
}

Predicate Key::beginsWith(platform::Value prefix) const {
  return Predicate::comparison(*this, PredicateOperator::BeginsWith, Expression::constant(std::move(prefix)));
}

Predicate Key::endsWith(platform::Value suffix) const {
  return Predicate::comparison(*this, PredicateOperator::EndsWith, Expression::constant(std::move(suffix)));
}

Predicate Key::contains(platform::Value text) const {
  return Predicate::comparison(*this, PredicateOperator::Contains, Expression::constant(std::move(text)));
}

Predicate Key::matches(platform::Value pattern) const {
  return Predicate::comparison(*this, PredicateOperator::Matches, Expression::constant(std::move(pattern)));
}

Predicate Key::like(platform::Value pattern) const {
  return Predicate::comparison(*this, PredicateOperator::Like, Expression::constant(std::move(pattern)));
}

}  // namespace predicates

}  // namespace backend
