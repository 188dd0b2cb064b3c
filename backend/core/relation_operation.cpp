// The relation operation: additions and removals of related object ids.

#include "backend/field_operation.hpp"
#include "backend/internal/object_hooks.hpp"
#include "backend/object.hpp"
#include "platform/exceptions.hpp"
#include "typed_codec.hpp"

namespace backend {
namespace {

using platform::InvalidArgumentException;

std::string classText(const std::optional<std::string>& className) { return className.value_or("(null)"); }

[[noreturn]] void raiseClassMismatch(const std::optional<std::string>& expected,
                                     const std::optional<std::string>& passed) {
  throw InvalidArgumentException("Related object object must be of class " + classText(expected) + ", but " +
                                 classText(passed) + " was passed in");
}

std::shared_ptr<RelationOperation> relationTo(const platform::Array& objects, bool adding) {
  std::optional<std::string> targetClass;
  RelationOperation::IdSet ids;
  for (const Value& value : objects) {
    auto object = value.object<Object>();
    auto id = object ? object->objectId() : std::nullopt;
    if (!id) throw InvalidArgumentException("All objects in a relation must have object ids.");
    if (!targetClass) targetClass = object->backendClassName();
    if (object->backendClassName() != *targetClass)
      throw InvalidArgumentException("All objects in a relation must be of the same class.");
    ids.insert(*id);
  }
  return adding ? std::make_shared<RelationOperation>(targetClass, std::move(ids), RelationOperation::IdSet{})
                : std::make_shared<RelationOperation>(targetClass, RelationOperation::IdSet{}, std::move(ids));
}

// Moves `id` to `into`, out of `from`.
void move(const std::string& id, RelationOperation::IdSet& from, RelationOperation::IdSet& into) {
  from.erase(id);
  into.insert(id);
}

std::string setDescription(const RelationOperation::IdSet& ids) {
  std::string text = "{(";
  bool first = true;
  for (const auto& id : ids) {
    text += first ? "\n    " : ",\n    ";
    text += id;
    first = false;
  }
  return text + "\n)}";
}

}  // namespace

std::shared_ptr<RelationOperation> RelationOperation::addRelationToObjects(const platform::Array& objects) {
  return relationTo(objects, true);
}

std::shared_ptr<RelationOperation> RelationOperation::removeRelationToObjects(const platform::Array& objects) {
  return relationTo(objects, false);
}

Value RelationOperation::encode(UnsavedChildren, DataObjects) const {
  const std::string className = targetClass_.value_or("");
  auto opFor = [&](const char* name, const IdSet& ids) {
    platform::Array pointers;
    pointers.reserve(ids.size());
    for (const auto& id : ids) pointers.push_back(detail::pointerForm(className, id));
    return Value::dictionary({{"__op", Value(name)}, {"objects", Value(std::move(pointers))}});
  };
  if (!toAdd_.empty() && !toRemove_.empty()) {
    return Value::dictionary(
        {{"__op", "Batch"}, {"ops", Value::array({opFor("AddRelation", toAdd_), opFor("RemoveRelation", toRemove_)})}});
  }
  if (!toAdd_.empty()) return opFor("AddRelation", toAdd_);
  if (!toRemove_.empty()) return opFor("RemoveRelation", toRemove_);
  throw platform::InternalInconsistencyException("A BERelationOperation was created without any data.");
}

FieldOperationPtr RelationOperation::mergeWithPrevious(const FieldOperationPtr& previous) {
  if (!previous) return self();
  if (dynamic_cast<const DeleteOperation*>(previous.get()))
    throw platform::InternalInconsistencyException("You can't modify a relation after deleting it.");
  auto* earlier = dynamic_cast<const RelationOperation*>(previous.get());
  if (!earlier) throw platform::InternalInconsistencyException("Operation is invalid after previous operation.");
  if (earlier->targetClass_ && earlier->targetClass_ != targetClass_)
    raiseClassMismatch(earlier->targetClass_, targetClass_);
  const IdSet laterAdds = std::move(toAdd_);
  const IdSet laterRemoves = std::move(toRemove_);
  toAdd_.clear();
  toRemove_.clear();
  for (const auto& id : earlier->toAdd_) move(id, toRemove_, toAdd_);
  for (const auto& id : earlier->toRemove_) move(id, toAdd_, toRemove_);
  for (const auto& id : laterAdds) move(id, toRemove_, toAdd_);
  for (const auto& id : laterRemoves) move(id, toAdd_, toRemove_);
  return self();
}

Value RelationOperation::applyToValue(const Value& old, std::string_view key,
                                      const std::shared_ptr<Object>& object) const {
  if (old.isNil()) {
    auto factory = relationFactory();
    if (!factory) throw platform::InternalInconsistencyException("No relation type is installed.");
    auto relation = factory(object, std::string(key));
    relation->setTargetClass(targetClass_);
    return Value(relation);
  }
  auto relation = old.object<RelationBase>();
  if (!relation) throw platform::InternalInconsistencyException("Operation is invalid after previous operation.");
  if (targetClass_) {
    auto existing = relation->targetClass();
    if (existing && existing != targetClass_) raiseClassMismatch(existing, targetClass_);
    if (!existing) relation->setTargetClass(targetClass_);
  }
  return old;
}

std::string RelationOperation::description() const {
  return "BERelationOperation<" + classText(targetClass_) + "> add:" + setDescription(toAdd_) +
         " remove:" + setDescription(toRemove_);
}

}  // namespace backend
