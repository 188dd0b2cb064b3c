#pragma once
// An access control list: which users and roles may read and write an
// object, and whether the public may. Only granted permissions are kept; an
// id whose last permission is revoked disappears from the list.
//
// A user that was created automatically and not saved yet has no id; its
// permissions wait under "*unresolved" and move to its id once it is saved.
// The process-wide default list (and its copy for the current user) is
// marked shared; data objects never change a shared list in place.

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "backend/object.hpp"
#include "backend/internal/object_hooks.hpp"
#include "platform/value.hpp"

namespace backend {

class Role;
class ACL;
using ACLPtr = std::shared_ptr<ACL>;

class ACL : public AccessListBase {
 public:
  // The ids that stand for the public and for an unsaved automatic user.
  static constexpr const char* kPublicId = "*";
  static constexpr const char* kUnresolvedId = "*unresolved";

  ACL() = default;
  ~ACL() override;

  // An empty, unshared list.
  static ACLPtr create();
  // Read and write for the user (see setReadAccessForUser).
  static ACLPtr createWithUser(const ObjectPtr& user);
  // From the dictionary form {id: {"read": true, "write": true}}: every
  // permission named is granted, whatever its value. Entries that are not
  // dictionaries are skipped.
  static ACLPtr createWithDictionary(const Value& dictionary);
  // A new list with the same permissions; the unresolved user is not carried.
  ACLPtr copy() const;
  // An unshared copy that also takes over the unresolved user's permissions
  // (registering its own save listener).
  std::shared_ptr<AccessListBase> createUnsharedCopy() const override;

  // ---- By id ("read" / "write"; the id "*" is the public) ------------------
  // Raise InvalidArgumentException "cannot setReadAccess for nil userId",
  // "cannot getReadAccessForUserId nil" and the write forms for no id.
  void setAccess(std::string_view permission, bool allowed, std::string_view id);
  bool getAccess(std::string_view permission, std::string_view id) const;
  void setReadAccessForUserId(bool allowed, const std::optional<std::string>& userId);
  bool getReadAccessForUserId(const std::optional<std::string>& userId) const;
  void setWriteAccessForUserId(bool allowed, const std::optional<std::string>& userId);
  bool getWriteAccessForUserId(const std::optional<std::string>& userId) const;

  void setPublicReadAccess(bool allowed);
  bool getPublicReadAccess() const;
  void setPublicWriteAccess(bool allowed);
  bool getPublicWriteAccess() const;

  // ---- By role ("role:" + name) ---------------------------------------------
  // Raise InvalidArgumentException "cannot set read access for nil role
  // name" (and the get / write forms) for no name.
  void setReadAccessForRoleWithName(bool allowed, const std::optional<std::string>& name);
  bool getReadAccessForRoleWithName(const std::optional<std::string>& name) const;
  void setWriteAccessForRoleWithName(bool allowed, const std::optional<std::string>& name);
  bool getWriteAccessForRoleWithName(const std::optional<std::string>& name) const;
  // Raise InvalidArgumentException "Roles must be saved to the server before
  // they can be used in an ACL." for a role without object id.
  void setReadAccessForRole(bool allowed, const std::shared_ptr<Role>& role);
  bool getReadAccessForRole(const std::shared_ptr<Role>& role) const;
  void setWriteAccessForRole(bool allowed, const std::shared_ptr<Role>& role);
  bool getWriteAccessForRole(const std::shared_ptr<Role>& role) const;

  // ---- By user object ---------------------------------------------------------
  // A saved user by its id; an unsaved automatic user under "*unresolved";
  // any other user raises InvalidArgumentException "cannot setReadAccess for
  // unsaved user" / "cannot setWriteAccess for unsaved user".
  void setReadAccessForUser(bool allowed, const ObjectPtr& user);
  void setWriteAccessForUser(bool allowed, const ObjectPtr& user);
  // The unresolved user's "*unresolved" entry, else by id; a user without id
  // raises "cannot getReadAccessForUser who isn't saved" (and the write form).
  bool getReadAccessForUser(const ObjectPtr& user) const;
  bool getWriteAccessForUser(const ObjectPtr& user) const;
  void setUnresolvedReadAccess(bool allowed, const ObjectPtr& user);
  void setUnresolvedWriteAccess(bool allowed, const ObjectPtr& user);
  // Makes the user the unresolved user (dropping the entry of an earlier
  // one) and listens for its save, which calls resolveUser.
  void prepareUnresolvedUser(const ObjectPtr& user);
  // For the unresolved user: moves "*unresolved" to its id and forgets it.
  void resolveUser(const ObjectPtr& user);
  bool hasUnresolvedUser() const;
  ObjectPtr unresolvedUser() const;

  void setShared(bool shared);
  bool isShared() const override;

  // A copy of the permissions dictionary (the field's typed form).
  Value encodeIntoDictionary() const;

  // ---- The default list -------------------------------------------------------
  // Sets the list new objects start with (an unshared copy of it, marked
  // shared; nullptr for none) and whether the current user gets read and
  // write access on top.
  static void setDefaultACL(const ACLPtr& acl, bool withAccessForCurrentUser);
  // The default list, or, with access for the current user and a current
  // user, a shared copy granting that user read and write (the same copy
  // until the current user changes). nullptr when none is set.
  static ACLPtr defaultACL();

  bool isEqual(const platform::SharedObject& other) const override;
  std::string description() const override;

 private:
  void setAccessLocked(std::string_view permission, bool allowed, std::string_view id);
  bool getAccessLocked(std::string_view permission, std::string_view id) const;
  void setAccessForUser(std::string_view permission, bool allowed, const ObjectPtr& user, const char* unsavedMessage);
  bool getAccessForUser(std::string_view permission, const ObjectPtr& user, const char* unsavedMessage) const;
  static void copyUnresolvedAccess(const ACL& from, ACL& to);
  // The user whose save listener this list registered, with its token.
  void forgetSaveListenerLocked();

  mutable std::mutex mutex_;
  platform::Dictionary permissionsById_;
  bool shared_ = false;
  ObjectPtr unresolvedUser_;
  std::size_t unresolvedListenerToken_ = 0;
};


}  // namespace backend
