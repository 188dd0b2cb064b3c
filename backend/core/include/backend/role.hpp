#pragma once
// A role: a data object of the reserved class "_Role" that groups users and
// other roles under a name that access lists can grant permissions to. The
// name may only be set before the role is first saved.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "backend/acl.hpp"
#include "backend/object.hpp"
#include "backend/query.hpp"
#include "backend/relation.hpp"

namespace backend {

class Role;
using RolePtr = std::shared_ptr<Role>;

class Role : public Object {
 public:
  static std::string backendClassName() { return "_Role"; }
  // Raises InvalidArgumentException "Cannot initialize a BERole with a
  // custom class name." for any name but "_Role".
  static void validateClassName(std::string_view className);

  // A new role with the name and, when given, the access list. Raises as
  // setObject for an invalid name.
  static RolePtr roleWithName(std::string_view name, const ACLPtr& acl = nullptr);
  // A query on "_Role".
  static QueryPtr query();

  std::optional<std::string> name();
  void setName(std::string_view name);
  // The relations "users" and "roles".
  RelationPtr users();
  RelationPtr roles();

  // A role with neither object id nor name raises
  // InternalInconsistencyException "New roles must specify a name.".
  void checkSaveParams() override;

 protected:
  // "name": InternalInconsistencyException "A role's name can only be set
  // before it has been saved." once saved; InvalidArgumentException "A
  // role's name must be an NSString." for a non-string and "A role's name
  // can only contain alphanumeric characters, _, -, and spaces." for any
  // other character or the empty name.
  void checkSetObject(const Value& value, std::string_view key) override;
};

}  // namespace backend
