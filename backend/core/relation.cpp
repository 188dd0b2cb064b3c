#include "backend/relation.hpp"

#include <cstdio>

#include "backend/field_operation.hpp"
#include "platform/exceptions.hpp"

namespace backend {

Relation::Relation(const ObjectPtr& parent, std::string key)
    : parent_(parent), bound_(parent != nullptr), key_(std::move(key)) {}

Relation::Relation(std::optional<std::string> targetClass) : targetClass_(std::move(targetClass)) {}

RelationPtr Relation::relationForObject(const ObjectPtr& parent, std::string key) {
  return std::make_shared<Relation>(parent, std::move(key));
}

RelationPtr Relation::relationWithTargetClass(std::optional<std::string> targetClass) {
  return std::make_shared<Relation>(std::move(targetClass));
}

void Relation::ensureParentIs(const ObjectPtr& parent, std::string_view key) {
  std::lock_guard lock(mutex_);
  if (!bound_) {
    parent_ = parent;
    bound_ = true;
  }
  if (key_.empty()) key_ = std::string(key);
  if (parent_.lock() != parent)
    throw platform::InternalInconsistencyException(
        "Internal error. One BERelation retrieved from two different BEObjects.");
  if (key_ != key)
    throw platform::InternalInconsistencyException("Internal error. One BERelation retrieved from two different keys.");
}

QueryPtr Relation::query() const {
  const ObjectPtr owner = parent();
  if (!owner) throw platform::InternalInconsistencyException("A relation needs its parent to be queried.");
  const auto target = targetClass();
  const std::string field = key();
  QueryPtr query;
  if (target) {
    query = Query::queryWithClassName(*target);
  } else {
    query = Query::queryWithClassName(owner->backendClassName());
    query->redirectClassNameForKey(field);
  }
  query->whereRelatedToObject(owner, field);
  return query;
}

void Relation::perform(const FieldOperationPtr& operation) {
  const ObjectPtr owner = parent();
  if (!owner) throw platform::InternalInconsistencyException("A relation needs its parent to be changed.");
  owner->performOperation(operation, key());
}

void Relation::addObject(const ObjectPtr& object) {
  auto operation = RelationOperation::addRelationToObjects({Value(object)});
  perform(operation);
  setTargetClass(operation->targetClass());
}

void Relation::removeObject(const ObjectPtr& object) {
  auto operation = RelationOperation::removeRelationToObjects({Value(object)});
  perform(operation);
  setTargetClass(operation->targetClass());
}

Value Relation::encodeIntoDictionary() const {
  const auto target = targetClass();
  if (!target)
    throw platform::InternalInconsistencyException("A relation without a target class cannot be encoded.");
  return Value::dictionary({{"__type", Value("Relation")}, {"className", Value(*target)}});
}

std::optional<std::string> Relation::targetClass() const {
  std::lock_guard lock(mutex_);
  return targetClass_;
}

void Relation::setTargetClass(std::optional<std::string> className) {
  std::lock_guard lock(mutex_);
  targetClass_ = std::move(className);
}

ObjectPtr Relation::parent() const {
  std::lock_guard lock(mutex_);
  return parent_.lock();
}

std::string Relation::key() const {
  std::lock_guard lock(mutex_);
  return key_;
}

std::string Relation::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(parent().get()));
  return "<Relation>(" + std::string(address) + "." + key() + " -> " + targetClass().value_or("(null)") + ")";
}

}  // namespace backend
