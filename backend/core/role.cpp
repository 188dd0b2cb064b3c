#include "backend/role.hpp"

#include <algorithm>

#include "backend/object_subclass.hpp"
#include "platform/exceptions.hpp"

namespace backend {
namespace {

// The pattern ^[0-9a-zA-Z_\- ]+$, ASCII only.
bool isValidRoleName(const std::string& name) {
  auto allowed = [](unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-' ||
           c == ' ';
  };
  return !name.empty() && std::all_of(name.begin(), name.end(), allowed);
}

}  // namespace

void Role::validateClassName(std::string_view className) {
  if (className != backendClassName())
    throw platform::InvalidArgumentException("Cannot initialize a BERole with a custom class name.");
}

RolePtr Role::roleWithName(std::string_view name, const ACLPtr& acl) {
  auto role = std::dynamic_pointer_cast<Role>(Object::objectWithClassName(backendClassName()));
  if (!role) {
    throw platform::InternalInconsistencyException("The class " + demangledTypeName(typeid(Role)) +
                                                   " must be registered with registerSubclass before using Backend");
  }
  role->setName(name);
  if (acl) role->setACL(acl);
  return role;
}

QueryPtr Role::query() { return Query::queryWithClassName(backendClassName()); }

std::optional<std::string> Role::name() {
  const Value value = objectForKey("name");
  return value.isString() ? std::optional<std::string>(*value.string()) : std::nullopt;
}

void Role::setName(std::string_view name) { setObject(Value(name), "name"); }

namespace {

RelationPtr asRelation(const std::shared_ptr<RelationBase>& relation) {
  auto typed = std::dynamic_pointer_cast<Relation>(relation);
  if (!typed) throw platform::InternalInconsistencyException("Relations are not registered: call registerValueTypes.");
  return typed;
}

}  // namespace

RelationPtr Role::users() { return asRelation(relationForKey("users")); }

RelationPtr Role::roles() { return asRelation(relationForKey("roles")); }

void Role::checkSaveParams() {
  if (!objectId() && !name()) throw platform::InternalInconsistencyException("New roles must specify a name.");
}

void Role::checkSetObject(const Value& value, std::string_view key) {
  if (key != "name") return;
  if (objectId())
    throw platform::InternalInconsistencyException("A role's name can only be set before it has been saved.");
  if (!value.isString()) throw platform::InvalidArgumentException("A role's name must be an NSString.");
  if (!isValidRoleName(*value.string()))
    throw platform::InvalidArgumentException(
        "A role's name can only contain alphanumeric characters, _, -, and spaces.");
}

}  // namespace backend
