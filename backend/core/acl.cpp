#include "backend/acl.hpp"

#include <utility>

#include "backend/internal/object_save_hooks.hpp"
#include "backend/role.hpp"
#include "platform/exceptions.hpp"

namespace backend {
namespace {

using platform::InvalidArgumentException;

constexpr std::string_view kRead = "read";
constexpr std::string_view kWrite = "write";

const std::string& requireId(const std::optional<std::string>& id, const char* message) {
  if (!id) throw InvalidArgumentException(message);
  return *id;
}

std::string roleId(const std::optional<std::string>& name, const char* message) {
  if (!name) throw InvalidArgumentException(message);
  return "role:" + *name;
}

std::optional<std::string> savedRoleName(const std::shared_ptr<Role>& role) {
  if (!role || !role->objectId())
    throw InvalidArgumentException("Roles must be saved to the server before they can be used in an ACL.");
  return role->name();
}

bool isLazyUser(const ObjectPtr& user) {
  auto isLazy = currentUserHooks().isLazy;
  return isLazy && isLazy(user);
}

// The process-wide default list and the copy made for the current user.
struct DefaultState {
  std::mutex mutex;
  ACLPtr list;
  bool withAccessForCurrentUser = false;
  ACLPtr perUserCopy;
  ObjectPtr perUserCopyOwner;
};

DefaultState& defaults() {
  static DefaultState state;
  return state;
}

ACLPtr sharedCopy(const ACL& acl) {
  auto copy = std::static_pointer_cast<ACL>(acl.createUnsharedCopy());
  copy->setShared(true);
  return copy;
}

}  // namespace

ACL::~ACL() {
  if (unresolvedUser_ && unresolvedListenerToken_) unresolvedUser_->unregisterSaveListener(unresolvedListenerToken_);
}

ACLPtr ACL::create() { return std::make_shared<ACL>(); }

ACLPtr ACL::createWithUser(const ObjectPtr& user) {
  auto acl = create();
  acl->setReadAccessForUser(true, user);
  acl->setWriteAccessForUser(true, user);
  return acl;
}

ACLPtr ACL::createWithDictionary(const Value& dictionary) {
  auto acl = create();
  const platform::Dictionary* entries = dictionary.dictionary();
  if (!entries) return acl;
  for (const auto& [id, permissions] : *entries) {
    const platform::Dictionary* granted = permissions.dictionary();
    if (!granted) continue;
    // The form carries only granted permissions: a false value grants too.
    for (const auto& [permission, ignored] : *granted) acl->setAccessLocked(permission, true, id);
  }
  return acl;
}

ACLPtr ACL::copy() const {
  auto acl = create();
  std::lock_guard lock(mutex_);
  acl->permissionsById_ = *Value(permissionsById_).deepCopy().dictionary();
  return acl;
}

std::shared_ptr<AccessListBase> ACL::createUnsharedCopy() const {
  auto acl = copy();
  copyUnresolvedAccess(*this, *acl);
  return acl;
}

void ACL::copyUnresolvedAccess(const ACL& from, ACL& to) {
  ObjectPtr user;
  bool read = false, write = false;
  {
    std::lock_guard lock(from.mutex_);
    if (!from.unresolvedUser_) return;
    user = from.unresolvedUser_;
    read = from.getAccessLocked(kRead, kUnresolvedId);
    write = from.getAccessLocked(kWrite, kUnresolvedId);
  }
  to.setReadAccessForUser(read, user);
  to.setWriteAccessForUser(write, user);
}

// ---- By id ---------------------------------------------------------------------

void ACL::setAccessLocked(std::string_view permission, bool allowed, std::string_view id) {
  Value* entry = permissionsById_.find(id);
  if (allowed) {
    if (!entry) {
      permissionsById_.append(std::string(id), Value::emptyDictionary());
      entry = permissionsById_.find(id);
    }
    entry->dictionary()->set(std::string(permission), Value(true));
    return;
  }
  if (!entry) return;
  entry->dictionary()->remove(permission);
  if (entry->dictionary()->empty()) permissionsById_.remove(id);
}

bool ACL::getAccessLocked(std::string_view permission, std::string_view id) const {
  const Value* entry = permissionsById_.find(id);
  return entry && (*entry)[permission].boolValue();
}

void ACL::setAccess(std::string_view permission, bool allowed, std::string_view id) {
  std::lock_guard lock(mutex_);
  setAccessLocked(permission, allowed, id);
}

bool ACL::getAccess(std::string_view permission, std::string_view id) const {
  std::lock_guard lock(mutex_);
  return getAccessLocked(permission, id);
}

void ACL::setReadAccessForUserId(bool allowed, const std::optional<std::string>& userId) {
  setAccess(kRead, allowed, requireId(userId, "cannot setReadAccess for nil userId"));
}

bool ACL::getReadAccessForUserId(const std::optional<std::string>& userId) const {
  return getAccess(kRead, requireId(userId, "cannot getReadAccessForUserId nil"));
}

void ACL::setWriteAccessForUserId(bool allowed, const std::optional<std::string>& userId) {
  setAccess(kWrite, allowed, requireId(userId, "cannot setWriteAccess for nil userId"));
}

bool ACL::getWriteAccessForUserId(const std::optional<std::string>& userId) const {
  return getAccess(kWrite, requireId(userId, "cannot getWriteAccessForUserId nil"));
}

void ACL::setPublicReadAccess(bool allowed) { setAccess(kRead, allowed, kPublicId); }
bool ACL::getPublicReadAccess() const { return getAccess(kRead, kPublicId); }
void ACL::setPublicWriteAccess(bool allowed) { setAccess(kWrite, allowed, kPublicId); }
bool ACL::getPublicWriteAccess() const { return getAccess(kWrite, kPublicId); }

// ---- By role ---------------------------------------------------------------------

void ACL::setReadAccessForRoleWithName(bool allowed, const std::optional<std::string>& name) {
  setAccess(kRead, allowed, roleId(name, "cannot set read access for nil role name"));
}

bool ACL::getReadAccessForRoleWithName(const std::optional<std::string>& name) const {
  return getAccess(kRead, roleId(name, "cannot get read access for nil role name"));
}

void ACL::setWriteAccessForRoleWithName(bool allowed, const std::optional<std::string>& name) {
  setAccess(kWrite, allowed, roleId(name, "cannot set write access for nil role name"));
}

bool ACL::getWriteAccessForRoleWithName(const std::optional<std::string>& name) const {
  return getAccess(kWrite, roleId(name, "cannot get write access for nil role name"));
}

void ACL::setReadAccessForRole(bool allowed, const std::shared_ptr<Role>& role) {
  setReadAccessForRoleWithName(allowed, savedRoleName(role));
}

bool ACL::getReadAccessForRole(const std::shared_ptr<Role>& role) const {
  return getReadAccessForRoleWithName(savedRoleName(role));
}

void ACL::setWriteAccessForRole(bool allowed, const std::shared_ptr<Role>& role) {
  setWriteAccessForRoleWithName(allowed, savedRoleName(role));
}

bool ACL::getWriteAccessForRole(const std::shared_ptr<Role>& role) const {
  return getWriteAccessForRoleWithName(savedRoleName(role));
}

// ---- By user object -----------------------------------------------------------

void ACL::setAccessForUser(std::string_view permission, bool allowed, const ObjectPtr& user,
                           const char* unsavedMessage) {
  if (!user) throw InvalidArgumentException(unsavedMessage);
  if (auto id = user->objectId()) return setAccess(permission, allowed, *id);
  if (!isLazyUser(user)) throw InvalidArgumentException(unsavedMessage);
  prepareUnresolvedUser(user);
  setAccess(permission, allowed, kUnresolvedId);
}

bool ACL::getAccessForUser(std::string_view permission, const ObjectPtr& user, const char* unsavedMessage) const {
  {
    std::lock_guard lock(mutex_);
    if (user && user == unresolvedUser_) return getAccessLocked(permission, kUnresolvedId);
  }
  auto id = user ? user->objectId() : std::nullopt;
  if (!id) throw InvalidArgumentException(unsavedMessage);
  return getAccess(permission, *id);
}

void ACL::setReadAccessForUser(bool allowed, const ObjectPtr& user) {
  setAccessForUser(kRead, allowed, user, "cannot setReadAccess for unsaved user");
}

void ACL::setWriteAccessForUser(bool allowed, const ObjectPtr& user) {
  setAccessForUser(kWrite, allowed, user, "cannot setWriteAccess for unsaved user");
}

bool ACL::getReadAccessForUser(const ObjectPtr& user) const {
  return getAccessForUser(kRead, user, "cannot getReadAccessForUser who isn't saved");
}

bool ACL::getWriteAccessForUser(const ObjectPtr& user) const {
  return getAccessForUser(kWrite, user, "cannot getWriteAccessForUser who isn't saved");
}

void ACL::setUnresolvedReadAccess(bool allowed, const ObjectPtr& user) {
  prepareUnresolvedUser(user);
  setAccess(kRead, allowed, kUnresolvedId);
}

void ACL::setUnresolvedWriteAccess(bool allowed, const ObjectPtr& user) {
  prepareUnresolvedUser(user);
  setAccess(kWrite, allowed, kUnresolvedId);
}

void ACL::prepareUnresolvedUser(const ObjectPtr& user) {
  ObjectPtr previous;
  std::size_t previousToken = 0;
  {
    std::lock_guard lock(mutex_);
    if (user == unresolvedUser_) return;
    previous = std::exchange(unresolvedUser_, user);
    previousToken = std::exchange(unresolvedListenerToken_, 0);
    permissionsById_.remove(kUnresolvedId);
  }
  // Listeners are registered and removed without this list's lock: the
  // user's lock is another object's.
  if (previous && previousToken) previous->unregisterSaveListener(previousToken);
  if (!user) return;
  std::weak_ptr<ACL> weakSelf = std::static_pointer_cast<ACL>(shared_from_this());
  auto token = std::make_shared<std::size_t>(0);
  const std::size_t registered =
      user->registerSaveListener([weakSelf, token](const ObjectPtr& saved, const std::optional<platform::Error>&) {
        if (auto self = weakSelf.lock()) self->resolveUser(saved);
        saved->unregisterSaveListener(*token);
      });
  *token = registered;
  std::lock_guard lock(mutex_);
  if (unresolvedUser_ == user) unresolvedListenerToken_ = registered;
}

void ACL::resolveUser(const ObjectPtr& user) {
  std::lock_guard lock(mutex_);
  if (!user || user != unresolvedUser_) return;
  if (Value* entry = permissionsById_.find(kUnresolvedId)) {
    if (auto id = user->objectId()) {
      Value moved = *entry;
      permissionsById_.remove(kUnresolvedId);
      permissionsById_.set(*id, moved);
    }
  }
  unresolvedUser_.reset();
  unresolvedListenerToken_ = 0;
}

bool ACL::hasUnresolvedUser() const {
  std::lock_guard lock(mutex_);
  return unresolvedUser_ != nullptr;
}

ObjectPtr ACL::unresolvedUser() const {
  std::lock_guard lock(mutex_);
  return unresolvedUser_;
}

void ACL::setShared(bool shared) {
  std::lock_guard lock(mutex_);
  shared_ = shared;
}

bool ACL::isShared() const {
  std::lock_guard lock(mutex_);
  return shared_;
}

Value ACL::encodeIntoDictionary() const {
  std::lock_guard lock(mutex_);
  return Value(permissionsById_).deepCopy();
}

// ---- The default list -------------------------------------------------------

void ACL::setDefaultACL(const ACLPtr& acl, bool withAccessForCurrentUser) {
  ACLPtr list = acl ? sharedCopy(*acl) : nullptr;
  auto& state = defaults();
  std::lock_guard lock(state.mutex);
  state.perUserCopy.reset();
  state.perUserCopyOwner.reset();
  state.list = std::move(list);
  state.withAccessForCurrentUser = withAccessForCurrentUser;
}

ACLPtr ACL::defaultACL() {
  auto currentUser = currentUserHooks().currentUser;
  ObjectPtr user = currentUser ? currentUser() : nullptr;
  auto& state = defaults();
  std::unique_lock lock(state.mutex);
  if (!state.withAccessForCurrentUser || !user || !state.list) return state.list;
  if (state.perUserCopyOwner == user) return state.perUserCopy;
  const ACLPtr base = state.list;
  lock.unlock();
  ACLPtr copy = sharedCopy(*base);
  copy->setReadAccessForUser(true, user);
  copy->setWriteAccessForUser(true, user);
  lock.lock();
  state.perUserCopy = copy;
  state.perUserCopyOwner = user;
  return copy;
}

bool ACL::isEqual(const platform::SharedObject& other) const {
  auto* acl = dynamic_cast<const ACL*>(&other);
  if (!acl) return false;
  if (acl == this) return true;
  return encodeIntoDictionary() == acl->encodeIntoDictionary();
}

std::string ACL::description() const { return "<ACL: " + encodeIntoDictionary().description() + ">"; }

}  // namespace backend
