#pragma once
// Field operations: the pending change to one field of a data object. Each
// knows its wire form, how to fold itself onto the operation already pending
// for the field, and how to change the locally estimated value at once.
//
// Operations are immutable once built, except RelationOperation, which its
// own merge updates in place (the data object calls merge under its lock).
// Always handled through std::shared_ptr (create with the static factories).

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "backend/internal/internal_utils.hpp"
#include "platform/value.hpp"

namespace backend {

class Object;
class FieldOperation;
using FieldOperationPtr = std::shared_ptr<FieldOperation>;

class FieldOperation : public platform::SharedObject {
 public:
  // The wire form; the flags go to the value encoder for the values inside.
  virtual Value encode(UnsavedChildren unsaved, DataObjects objects) const = 0;
  // The single operation that has the effect of `previous` (the operation
  // pending for the field, or nullptr) followed by this one. Raises
  // InternalInconsistencyException for combinations that make no sense
  // ("Operation is invalid after previous operation." and the specific
  // messages of the merge table).
  virtual FieldOperationPtr mergeWithPrevious(const FieldOperationPtr& previous) = 0;
  // The new estimated value from the old one (nil when absent); nil removes
  // the field. Only the relation operation uses the key and the object.
  virtual Value applyToValue(const Value& old, std::string_view key, const std::shared_ptr<Object>& object) const = 0;

  // A decoder turns an "__op" dictionary into an operation (nullptr for an
  // empty batch).
  using Decoder = std::function<FieldOperationPtr(const platform::Dictionary&)>;
  // Stores the decoder under the "__op" name, replacing an earlier one.
  static void registerDecoder(std::string name, Decoder decoder);
  // Registers the eight decoders of the wire forms ("Batch", "Delete",
  // "Increment", "Add", "AddUnique", "Remove", "AddRelation",
  // "RemoveRelation").
  static void registerDefaultDecoders();
  // The operation of an "__op" dictionary. Raises
  // InternalInconsistencyException "Unable to decode operation of type <op>."
  // when no decoder is registered for the name, or the dictionary lacks the
  // members that decoder needs.
  static FieldOperationPtr decode(const platform::Dictionary& dictionary);

 protected:
  // This operation as a shared pointer (operations are created shared).
  FieldOperationPtr self();
};

// Replaces the field's value.
class SetOperation final : public FieldOperation {
 public:
  // Raises InternalInconsistencyException "Cannot set a nil value in a
  // BEObject." for nil.
  static std::shared_ptr<SetOperation> create(Value value);
  const Value& value() const noexcept { return value_; }

  Value encode(UnsavedChildren unsaved, DataObjects objects) const override;
  FieldOperationPtr mergeWithPrevious(const FieldOperationPtr& previous) override;
  Value applyToValue(const Value& old, std::string_view key, const std::shared_ptr<Object>& object) const override;
  std::string description() const override;

  explicit SetOperation(Value value);

 private:
  Value value_;
};

// Removes the field.
class DeleteOperation final : public FieldOperation {
 public:
  // The shared instance used by the decoder.
  static std::shared_ptr<DeleteOperation> shared();
  static std::shared_ptr<DeleteOperation> create();

  Value encode(UnsavedChildren unsaved, DataObjects objects) const override;
  FieldOperationPtr mergeWithPrevious(const FieldOperationPtr& previous) override;
  Value applyToValue(const Value& old, std::string_view key, const std::shared_ptr<Object>& object) const override;
  std::string description() const override;
};

// Adds a number; the result keeps the amount's storage type.
class IncrementOperation final : public FieldOperation {
 public:
  static std::shared_ptr<IncrementOperation> create(platform::Number amount);
  const platform::Number& amount() const noexcept { return amount_; }

  Value encode(UnsavedChildren unsaved, DataObjects objects) const override;
  FieldOperationPtr mergeWithPrevious(const FieldOperationPtr& previous) override;
  Value applyToValue(const Value& old, std::string_view key, const std::shared_ptr<Object>& object) const override;
  std::string description() const override;

  explicit IncrementOperation(platform::Number amount) : amount_(amount) {}

 private:
  platform::Number amount_;
};

// Appends objects to an array field.
class AddOperation final : public FieldOperation {
 public:
  static std::shared_ptr<AddOperation> create(platform::Array objects);
  const platform::Array& objects() const noexcept { return objects_; }

  Value encode(UnsavedChildren unsaved, DataObjects objects) const override;
  FieldOperationPtr mergeWithPrevious(const FieldOperationPtr& previous) override;
  Value applyToValue(const Value& old, std::string_view key, const std::shared_ptr<Object>& object) const override;
  std::string description() const override;

  explicit AddOperation(platform::Array objects) : objects_(std::move(objects)) {}

 private:
  platform::Array objects_;
};

// Adds objects that the array does not hold yet. Duplicates in the list are
// dropped (the first of equal objects stays, in list order).
class AddUniqueOperation final : public FieldOperation {
 public:
  static std::shared_ptr<AddUniqueOperation> create(const platform::Array& objects);
  const platform::Array& objects() const noexcept { return objects_; }

  Value encode(UnsavedChildren unsaved, DataObjects objects) const override;
  FieldOperationPtr mergeWithPrevious(const FieldOperationPtr& previous) override;
  Value applyToValue(const Value& old, std::string_view key, const std::shared_ptr<Object>& object) const override;
  std::string description() const override;

  explicit AddUniqueOperation(platform::Array uniqueObjects) : objects_(std::move(uniqueObjects)) {}

 private:
  platform::Array objects_;
};

// Removes objects from an array field.
class RemoveOperation final : public FieldOperation {
 public:
  static std::shared_ptr<RemoveOperation> create(platform::Array objects);
  const platform::Array& objects() const noexcept { return objects_; }

  Value encode(UnsavedChildren unsaved, DataObjects objects) const override;
  FieldOperationPtr mergeWithPrevious(const FieldOperationPtr& previous) override;
  // Removing from a missing field gives an empty array.
  Value applyToValue(const Value& old, std::string_view key, const std::shared_ptr<Object>& object) const override;
  std::string description() const override;

  explicit RemoveOperation(platform::Array objects) : objects_(std::move(objects)) {}

 private:
  platform::Array objects_;
};

// Adds and removes related objects (by object id) of a relation field.
class RelationOperation final : public FieldOperation {
 public:
  using IdSet = std::set<std::string>;

  // Operations for a list of data objects, all of one class and all with an
  // object id; the target class is the first object's class (none for an
  // empty list). Raise InvalidArgumentException "All objects in a relation
  // must have object ids." / "All objects in a relation must be of the same
  // class." (also for members that are not data objects).
  static std::shared_ptr<RelationOperation> addRelationToObjects(const platform::Array& objects);
  static std::shared_ptr<RelationOperation> removeRelationToObjects(const platform::Array& objects);

  const std::optional<std::string>& targetClass() const noexcept { return targetClass_; }
  const IdSet& relationsToAdd() const noexcept { return toAdd_; }
  const IdSet& relationsToRemove() const noexcept { return toRemove_; }

  // {"__op": "AddRelation"|"RemoveRelation", "objects": [pointers]}, or a
  // "Batch" of both (additions first). Raises InternalInconsistencyException
  // "A BERelationOperation was created without any data." when both are empty.
  Value encode(UnsavedChildren unsaved, DataObjects objects) const override;
  // Onto another relation operation: folds the previous one into this one in
  // place and answers this one; the later edit of an id wins.
  FieldOperationPtr mergeWithPrevious(const FieldOperationPtr& previous) override;
  // A new relation for the object and key when the field is empty; else the
  // relation itself after the class check. Raises
  // InternalInconsistencyException "No relation type is installed." when the
  // relation type is not part of the build.
  Value applyToValue(const Value& old, std::string_view key, const std::shared_ptr<Object>& object) const override;
  std::string description() const override;

  RelationOperation(std::optional<std::string> targetClass, IdSet toAdd, IdSet toRemove)
      : targetClass_(std::move(targetClass)), toAdd_(std::move(toAdd)), toRemove_(std::move(toRemove)) {}

 private:
  std::optional<std::string> targetClass_;
  IdSet toAdd_;
  IdSet toRemove_;
};

}  // namespace backend
