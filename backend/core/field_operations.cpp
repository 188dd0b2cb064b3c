// Set, Delete, Increment, Add, AddUnique and Remove: wire forms, the merge
// table and the apply rules.

#include <algorithm>

#include "backend/field_operation.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/object.hpp"
#include "platform/exceptions.hpp"

namespace backend {
namespace {

using platform::Array;
using platform::InternalInconsistencyException;

[[noreturn]] void raiseInvalidAfterPrevious() {
  throw InternalInconsistencyException("Operation is invalid after previous operation.");
}
[[noreturn]] void raiseNonNumber() { throw InternalInconsistencyException("You cannot increment a non-number."); }
[[noreturn]] void raiseNonArray() { throw InternalInconsistencyException("You can't add an item to a non-array."); }

template <class T>
const T* as(const FieldOperationPtr& operation) {
  return dynamic_cast<const T*>(operation.get());
}

Array concatenated(const Array& first, const Array& second) {
  Array joined;
  joined.reserve(first.size() + second.size());
  joined.insert(joined.end(), first.begin(), first.end());
  joined.insert(joined.end(), second.begin(), second.end());
  return joined;
}

Value opForm(const char* name, const Array& objects, UnsavedChildren unsaved, DataObjects dataObjects) {
  return Value::dictionary(
      {{"__op", Value(name)}, {"objects", InternalUtils::encodeObject(Value(objects), unsaved, dataObjects)}});
}

// The object id of a value that is a data object with an id.
std::optional<std::string> savedObjectId(const Value& value) {
  auto object = value.object<Object>();
  return object ? object->objectId() : std::nullopt;
}

std::string describe(const char* prefix, const Array& objects) {
  return std::string(prefix) + Value(objects).description();
}

}  // namespace

// ---- Set --------------------------------------------------------------------

SetOperation::SetOperation(Value value) : value_(std::move(value)) {
  if (value_.isNil()) throw InternalInconsistencyException("Cannot set a nil value in a BEObject.");
}

std::shared_ptr<SetOperation> SetOperation::create(Value value) { return std::make_shared<SetOperation>(std::move(value)); }

Value SetOperation::encode(UnsavedChildren unsaved, DataObjects objects) const {
  return InternalUtils::encodeObject(value_, unsaved, objects);
}

FieldOperationPtr SetOperation::mergeWithPrevious(const FieldOperationPtr&) { return self(); }

Value SetOperation::applyToValue(const Value&, std::string_view, const std::shared_ptr<Object>&) const { return value_; }

std::string SetOperation::description() const { return "set to " + value_.description(); }

// ---- Delete -----------------------------------------------------------------

std::shared_ptr<DeleteOperation> DeleteOperation::shared() {
  static const auto instance = std::make_shared<DeleteOperation>();
  return instance;
}

std::shared_ptr<DeleteOperation> DeleteOperation::create() { return std::make_shared<DeleteOperation>(); }

Value DeleteOperation::encode(UnsavedChildren, DataObjects) const { return Value::dictionary({{"__op", "Delete"}}); }

FieldOperationPtr DeleteOperation::mergeWithPrevious(const FieldOperationPtr&) { return self(); }

Value DeleteOperation::applyToValue(const Value&, std::string_view, const std::shared_ptr<Object>&) const {
  return Value();
}

std::string DeleteOperation::description() const { return "delete"; }

// ---- Increment --------------------------------------------------------------

std::shared_ptr<IncrementOperation> IncrementOperation::create(platform::Number amount) {
  return std::make_shared<IncrementOperation>(amount);
}

Value IncrementOperation::encode(UnsavedChildren, DataObjects) const {
  return Value::dictionary({{"__op", "Increment"}, {"amount", Value(amount_)}});
}

FieldOperationPtr IncrementOperation::mergeWithPrevious(const FieldOperationPtr& previous) {
  if (!previous) return self();
  if (as<DeleteOperation>(previous)) return SetOperation::create(Value(amount_));
  if (auto* set = as<SetOperation>(previous)) {
    if (!set->value().isNumber()) raiseNonNumber();
    return SetOperation::create(Value(InternalUtils::addNumber(amount_, *set->value().number())));
  }
  if (auto* increment = as<IncrementOperation>(previous))
    return IncrementOperation::create(InternalUtils::addNumber(amount_, increment->amount()));
  raiseInvalidAfterPrevious();
}

Value IncrementOperation::applyToValue(const Value& old, std::string_view, const std::shared_ptr<Object>&) const {
  if (old.isNil()) return Value(amount_);
  if (!old.isNumber()) raiseNonNumber();
  return Value(InternalUtils::addNumber(amount_, *old.number()));
}

std::string IncrementOperation::description() const { return "increment by " + amount_.description(); }

// ---- Add --------------------------------------------------------------------

std::shared_ptr<AddOperation> AddOperation::create(Array objects) {
  return std::make_shared<AddOperation>(std::move(objects));
}

Value AddOperation::encode(UnsavedChildren unsaved, DataObjects objects) const {
  return opForm("Add", objects_, unsaved, objects);
}

FieldOperationPtr AddOperation::mergeWithPrevious(const FieldOperationPtr& previous) {
  if (!previous) return self();
  if (as<DeleteOperation>(previous)) return SetOperation::create(Value(objects_));
  if (auto* set = as<SetOperation>(previous)) {
    if (!set->value().isArray()) raiseNonArray();
    return SetOperation::create(Value(concatenated(*set->value().array(), objects_)));
  }
  if (auto* add = as<AddOperation>(previous)) return AddOperation::create(concatenated(add->objects(), objects_));
  raiseInvalidAfterPrevious();
}

Value AddOperation::applyToValue(const Value& old, std::string_view, const std::shared_ptr<Object>&) const {
  if (old.isNil()) return Value(objects_);
  if (!old.isArray()) raiseInvalidAfterPrevious();
  return Value(concatenated(*old.array(), objects_));
}

std::string AddOperation::description() const { return describe("add ", objects_); }

// ---- AddUnique --------------------------------------------------------------

std::shared_ptr<AddUniqueOperation> AddUniqueOperation::create(const Array& objects) {
  Array unique;
  unique.reserve(objects.size());
  for (const Value& object : objects) {
    if (std::find(unique.begin(), unique.end(), object) == unique.end()) unique.push_back(object);
  }
  return std::make_shared<AddUniqueOperation>(std::move(unique));
}

Value AddUniqueOperation::encode(UnsavedChildren unsaved, DataObjects objects) const {
  return opForm("AddUnique", objects_, unsaved, objects);
}

FieldOperationPtr AddUniqueOperation::mergeWithPrevious(const FieldOperationPtr& previous) {
  if (!previous) return self();
  if (as<DeleteOperation>(previous)) return SetOperation::create(Value(objects_));
  if (auto* set = as<SetOperation>(previous)) {
    if (!set->value().isArray()) raiseNonArray();
    return SetOperation::create(applyToValue(set->value(), {}, nullptr));
  }
  if (auto* addUnique = as<AddUniqueOperation>(previous))
    return AddUniqueOperation::create(*applyToValue(Value(addUnique->objects()), {}, nullptr).array());
  raiseInvalidAfterPrevious();
}

Value AddUniqueOperation::applyToValue(const Value& old, std::string_view, const std::shared_ptr<Object>&) const {
  if (old.isNil()) return Value(objects_);
  if (!old.isArray()) raiseInvalidAfterPrevious();
  Array result = *old.array();
  for (const Value& object : objects_) {
    if (auto id = savedObjectId(object)) {
      // A saved data object takes the place of the element with the same id.
      auto same = std::find_if(result.begin(), result.end(), [&](const Value& element) {
        return element.object<Object>() && savedObjectId(element) == id;
      });
      if (same != result.end()) {
        *same = object;
      } else {
        result.push_back(object);
      }
    } else if (std::find(result.begin(), result.end(), object) == result.end()) {
      result.push_back(object);
    }
  }
  return Value(std::move(result));
}

std::string AddUniqueOperation::description() const { return describe("addToSet ", objects_); }

// ---- Remove -----------------------------------------------------------------

std::shared_ptr<RemoveOperation> RemoveOperation::create(Array objects) {
  return std::make_shared<RemoveOperation>(std::move(objects));
}

Value RemoveOperation::encode(UnsavedChildren unsaved, DataObjects objects) const {
  return opForm("Remove", objects_, unsaved, objects);
}

FieldOperationPtr RemoveOperation::mergeWithPrevious(const FieldOperationPtr& previous) {
  if (!previous) return self();
  if (as<DeleteOperation>(previous))
    throw InternalInconsistencyException("You can't remove items from a deleted array.");
  if (auto* set = as<SetOperation>(previous)) {
    if (!set->value().isArray()) raiseNonArray();
    return SetOperation::create(applyToValue(set->value(), {}, nullptr));
  }
  if (auto* remove = as<RemoveOperation>(previous))
    return RemoveOperation::create(concatenated(remove->objects(), objects_));
  raiseInvalidAfterPrevious();
}

Value RemoveOperation::applyToValue(const Value& old, std::string_view, const std::shared_ptr<Object>&) const {
  // Removing from nothing leaves an empty list rather than inventing items.
  if (old.isNil()) return Value::emptyArray();
  if (!old.isArray()) raiseInvalidAfterPrevious();
  Array result;
  result.reserve(old.array()->size());
  for (const Value& element : *old.array()) {
    if (std::find(objects_.begin(), objects_.end(), element) == objects_.end()) result.push_back(element);
  }
  // A saved data object also removes another instance of the same record.
  for (const Value& object : objects_) {
    auto id = savedObjectId(object);
    if (!id || std::find(result.begin(), result.end(), object) != result.end()) continue;
    auto same = std::find_if(result.begin(), result.end(), [&](const Value& element) {
      return element.object<Object>() && savedObjectId(element) == id;
    });
    if (same != result.end()) result.erase(same);
  }
  return Value(std::move(result));
}

std::string RemoveOperation::description() const { return describe("remove ", objects_); }

}  // namespace backend
