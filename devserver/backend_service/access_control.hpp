#pragma once

#include "object_store.hpp"

#include <optional>
#include <set>
#include <string>

namespace devserver::backend {

// Who sends a command: the user of its session token (if any) and the
// names of the roles that user holds, directly or through roles of roles.
struct Caller {
  std::optional<std::string> userId;
  std::set<std::string> roleNames;
};

// The caller for a command's "session_token" (none: the public). An unknown
// token is refused with code 209.
Caller callerForSession(ObjectStore& store, const std::optional<std::string>& sessionToken);

// Names of the roles that `userId` holds: every "_Role" whose "users"
// relation holds the user, and every role whose "roles" relation holds a
// role already held.
std::set<std::string> rolesOfUser(ObjectStore& store, const std::string& userId);

// Access-list checks. An object without "ACL" is open to everyone.
bool canRead(const StoredObject& object, const Caller& caller);
bool canWrite(const StoredObject& object, const Caller& caller);

// Checks an "ACL" value (id -> {"read": bool, "write": bool}) and returns
// it with only the granted permissions. Code 111 when it has another shape.
Json normalizeAcl(const Json& value);

}  // namespace devserver::backend
