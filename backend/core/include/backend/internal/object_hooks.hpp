#pragma once
// What the data-object layer needs of value types defined with access
// control, relations and geo points. Those types derive from the bases below
// and install their factories; until they are installed, a server "ACL" is
// kept as the plain dictionary it arrived as, no default list is applied,
// and relation operations raise.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/value.hpp"

namespace backend {

class Object;

// An access-control list as the object layer sees it.
class AccessListBase : public platform::SharedObject {
 public:
  // True for the process-wide default list and its per-user copy, which data
  // objects must not change in place.
  virtual bool isShared() const = 0;
  // A private, unshared copy.
  virtual std::shared_ptr<AccessListBase> createUnsharedCopy() const = 0;
};

// A relation field value as the object layer sees it.
class RelationBase : public platform::SharedObject {
 public:
  virtual std::optional<std::string> targetClass() const = 0;
  virtual void setTargetClass(std::optional<std::string> className) = 0;
  // Binds the relation to its parent and key on first use; raises
  // InternalInconsistencyException when it is already bound to another.
  virtual void ensureParentIs(const std::shared_ptr<Object>& parent, std::string_view key) = 0;
};

struct AccessListHooks {
  // The list of a dictionary form {id: {"read": true, "write": true}}.
  std::function<std::shared_ptr<AccessListBase>(const platform::Value& dictionary)> fromDictionary;
  // The default list to give new objects, or nullptr when none is configured.
  std::function<std::shared_ptr<AccessListBase>()> defaultList;
};

// A new relation for a parent object and key, with no target class.
using RelationFactory =
    std::function<std::shared_ptr<RelationBase>(const std::shared_ptr<Object>& parent, std::string key)>;

// Install (or, with empty hooks, remove) the implementations. Thread-safe;
// meant for start-up.
void installAccessListHooks(AccessListHooks hooks);
void installRelationFactory(RelationFactory factory);

// The installed hooks (copies; members empty when not installed).
AccessListHooks accessListHooks();
RelationFactory relationFactory();

}  // namespace backend
