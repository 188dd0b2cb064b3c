#pragma once
// The handle of a many-to-many link from one object's field to objects of
// one target class. Bound to its parent and key on first use; changed only
// through relation operations on the parent, listed through its query.
//
// The parent is held weakly: the parent holds the relation in its fields,
// and a strong link back would keep both alive for ever.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "backend/object.hpp"
#include "backend/internal/object_hooks.hpp"
#include "backend/query.hpp"

namespace backend {

class Relation;
using RelationPtr = std::shared_ptr<Relation>;

class Relation : public RelationBase {
 public:
  Relation(const ObjectPtr& parent, std::string key);
  explicit Relation(std::optional<std::string> targetClass);

  // Bound to the parent and key, without target class.
  static RelationPtr relationForObject(const ObjectPtr& parent, std::string key);
  // Unbound, with a target class (decoded "Relation" values).
  static RelationPtr relationWithTargetClass(std::optional<std::string> targetClass);

  // Binds a missing parent and key; raises InternalInconsistencyException
  // "Internal error. One BERelation retrieved from two different BEObjects."
  // / "... from two different keys." when bound to others.
  void ensureParentIs(const ObjectPtr& parent, std::string_view key) override;

  // The related objects: a query on the target class, or, without one, on
  // the parent's class redirected through the key; constrained to objects
  // related to the parent through the key. Raises
  // InternalInconsistencyException "A relation needs its parent to be
  // queried." when the parent is gone or was never bound.
  QueryPtr query() const;
  // Adds / removes the object through a relation operation on the parent's
  // field (InvalidArgumentException for an object without id or of another
  // class), then takes the operation's target class.
  void addObject(const ObjectPtr& object);
  void removeObject(const ObjectPtr& object);

  // {"__type": "Relation", "className": target class}. Raises
  // InternalInconsistencyException "A relation without a target class cannot
  // be encoded." when it has none.
  Value encodeIntoDictionary() const;

  std::optional<std::string> targetClass() const override;
  void setTargetClass(std::optional<std::string> className) override;
  ObjectPtr parent() const;
  std::string key() const;
  std::string description() const override;

 private:
  void perform(const FieldOperationPtr& operation);

  mutable std::mutex mutex_;
  std::weak_ptr<Object> parent_;
  bool bound_ = false;
  std::string key_;
  std::optional<std::string> targetClass_;
};

}  // namespace backend
