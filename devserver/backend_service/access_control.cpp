#include "access_control.hpp"

#include "backend_error.hpp"

#include <deque>

namespace devserver::backend {
namespace {

bool allows(const StoredObject& object, const Caller& caller, const char* permission) {
  auto acl = object.fields.find("ACL");
  if (acl == object.fields.end() || !acl->is_object()) return true;
  auto grants = [&](const std::string& id) {
    auto entry = acl->find(id);
    if (entry == acl->end() || !entry->is_object()) return false;
    auto flag = entry->find(permission);
    return flag != entry->end() && flag->is_boolean() && flag->get<bool>();
  };
  if (grants("*")) return true;
  if (caller.userId && grants(*caller.userId)) return true;
  for (const auto& role : caller.roleNames) {
    if (grants("role:" + role)) return true;
  }
  return false;
}

}  // namespace

Caller callerForSession(ObjectStore& store, const std::optional<std::string>& sessionToken) {
  Caller caller;
  if (!sessionToken || sessionToken->empty()) return caller;
  auto userId = store.userForSession(*sessionToken);
  if (!userId) throw BackendError(code::kInvalidSessionToken, "invalid session token");
  caller.userId = *userId;
  caller.roleNames = rolesOfUser(store, *userId);
  return caller;
}

std::set<std::string> rolesOfUser(ObjectStore& store, const std::string& userId) {
  std::set<std::string> heldIds;
  std::deque<std::string> pending;
  for (auto& roleId : store.relationOwners("_Role", "users", userId)) {
    if (heldIds.insert(roleId).second) pending.push_back(roleId);
  }
  // A role listed in another role's "roles" passes that role on to its users.
  while (!pending.empty()) {
    std::string roleId = pending.front();
    pending.pop_front();
    for (auto& parentId : store.relationOwners("_Role", "roles", roleId)) {
      if (heldIds.insert(parentId).second) pending.push_back(parentId);
    }
  }
  std::set<std::string> names;
  for (const auto& roleId : heldIds) {
    auto role = store.find("_Role", roleId);
    if (!role) continue;
    auto name = role->fields.find("name");
    if (name != role->fields.end() && name->is_string()) names.insert(name->get<std::string>());
  }
  return names;
}

bool canRead(const StoredObject& object, const Caller& caller) { return allows(object, caller, "read"); }

bool canWrite(const StoredObject& object, const Caller& caller) { return allows(object, caller, "write"); }

Json normalizeAcl(const Json& value) {
  if (!value.is_object()) throw BackendError(code::kIncorrectType, "ACL must be an object of id -> permissions");
  Json out = Json::object();
  for (const auto& [id, permissions] : value.items()) {
    if (!permissions.is_object() || id.empty()) {
      throw BackendError(code::kIncorrectType, "ACL entry \"" + id + "\" must be an object with \"read\"/\"write\"");
    }
    Json granted = Json::object();
    for (const auto& [name, flag] : permissions.items()) {
      if ((name != "read" && name != "write") || !flag.is_boolean()) {
        throw BackendError(code::kIncorrectType, "ACL permissions are \"read\" and \"write\" with boolean values");
      }
      if (flag.get<bool>()) granted[name] = true;
    }
    if (!granted.empty()) out[id] = granted;
  }
  return out;
}

}  // namespace devserver::backend
