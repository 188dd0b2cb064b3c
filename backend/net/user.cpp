// Users: their own fields, the field rules, what they take from server
// answers and put into their forms, and the process's current user.

#include "backend/user.hpp"

#include <map>

#include "backend/acl.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/internal/object_save_hooks.hpp"
#include "backend/object_subclass.hpp"
#include "platform/exceptions.hpp"
#include "user_state.hpp"

namespace backend {

using platform::Dictionary;

namespace {

std::optional<std::string> stringField(User& user, std::string_view key) {
  const Value value = user.objectForKey(key);
  return value.isString() ? std::optional<std::string>(*value.string()) : std::nullopt;
}

// Removes the key from the dictionary and answers what it held (nil when absent).
Value take(Dictionary& dictionary, std::string_view key) {
  Value value = dictionary.get(key);
  dictionary.remove(key);
  return value;
}

// The form with `extra` added to its "data".
Value withData(const Value& form, const Dictionary& extra) {
  Dictionary out = form.isDictionary() ? *form.dictionary() : Dictionary();
  const Value dataValue = out.get("data");
  Dictionary data = dataValue.isDictionary() ? *dataValue.dictionary() : Dictionary();
  for (const auto& [key, value] : extra) data.set(key, value);
  out.set("data", Value(std::move(data)));
  return Value(std::move(out));
}

}  // namespace

// ---- Current-user state ---------------------------------------------------------

namespace users {

State& state() {
  static State instance;
  return instance;
}

void hold(const UserPtr& user) {
  State& s = state();
  if (s.current && s.current != user) s.current->setCurrentUserFlag(false);
  s.current = user;
  if (user) user->setCurrentUserFlag(true);
  std::lock_guard snapshot(s.heldMutex);
  s.held = user;
}

UserPtr held() {
  State& s = state();
  std::lock_guard snapshot(s.heldMutex);
  return s.held;
}

std::shared_ptr<AuthenticationProvider> provider(const std::string& authType) {
  State& s = state();
  std::lock_guard lock(s.providersMutex);
  auto found = s.providers.find(authType);
  return found == s.providers.end() ? nullptr : found->second;
}

Task<Value> authenticate(const std::string& authType) {
  auto found = provider(authType);
  if (!found)
    throw platform::InvalidArgumentException("No registered authentication provider found for type " + authType + ".");
  TaskCompletionSource<Value> credentials;
  found->authenticate([credentials](const Value& data) { credentials.trySetResult(data); },
                      [credentials](const platform::Error& error) { credentials.trySetError(error); },
                      [credentials] { credentials.trySetCancelled(); });
  return credentials.task();
}

}  // namespace users

void User::validateClassName(std::string_view className) {
  if (className != backendClassName())
    throw platform::InvalidArgumentException("Cannot initialize a BEUser with a custom class name.");
}

UserPtr User::selfUser() { return std::static_pointer_cast<User>(shared_from_this()); }

UserPtr User::user() {
  auto user = std::dynamic_pointer_cast<User>(Object::objectWithClassName(backendClassName()));
  if (!user) {
    throw platform::InternalInconsistencyException("The class " + demangledTypeName(typeid(User)) +
                                                   " must be registered with registerSubclass before using Backend");
  }
  return user;
}

QueryPtr User::query() { return Query::queryWithClassName(backendClassName()); }

UserPtr User::currentUser() {
  users::State& s = users::state();
  std::lock_guard lock(s.mutex);
  // A new user asks for the current one (its default access list); the lazy
  // user being made is not current yet.
  if (s.creatingLazyUser) return nullptr;
  if (s.current) return s.current;
  if (!s.fileRead) {
    s.fileRead = true;
    users::hold(std::dynamic_pointer_cast<User>(Object::objectFromDataFile(users::kDataFileName)));
  }
  if (!s.current && s.automaticUser) AnonymousUtils::lazyLogIn();
  return s.current;
}

std::optional<std::string> User::currentSessionToken() {
  const UserPtr user = currentUser();
  if (!user || user->isLazy()) return std::nullopt;
  return user->sessionToken();
}

void User::saveCurrentUser(const UserPtr& user) {
  users::State& s = users::state();
  std::lock_guard lock(s.mutex);
  if (s.current && s.current != user) logOut();
  user->setCurrentUserFlag(true);
  user->synchroniseAllAuthData();
  user->serializeToDataFile(users::kDataFileName);
  users::hold(user);
  s.fileRead = true;
}

void User::clearCurrentUser() {
  users::State& s = users::state();
  std::lock_guard lock(s.mutex);
  users::hold(nullptr);
  s.fileRead = false;
}

void User::logOut() {
  users::State& s = users::state();
  std::lock_guard lock(s.mutex);
  Object::deleteDataFile(users::kDataFileName);
  if (UserPtr user = s.current) {
    user->logOutWithAuthTypes();
    user->setSessionToken(std::nullopt);
  }
  users::hold(nullptr);
  s.fileRead = true;
}

void User::enableAutomaticUser() {
  {
    users::State& s = users::state();
    std::lock_guard lock(s.mutex);
    s.automaticUser = true;
  }
  AnonymousUtils::registerProvider();
}

bool User::isAutomaticUserEnabled() {
  users::State& s = users::state();
  std::lock_guard lock(s.mutex);
  return s.automaticUser;
}

void User::resetAutomaticUserEnabled() {
  users::State& s = users::state();
  std::lock_guard lock(s.mutex);
  s.automaticUser = false;
}

UserPtr User::logInLazyUserWithAuthType(const std::string& authType, const Value& authData) {
  users::State& s = users::state();
  std::lock_guard lock(s.mutex);
  UserPtr user;
  s.creatingLazyUser = true;
  try {
    user = User::user();
  } catch (...) {
    s.creatingLazyUser = false;
    throw;
  }
  s.creatingLazyUser = false;
  user->setLazy(true);
  user->setAuthData(authType, authData);
  users::hold(user);
  // Not on disk until the server knows it.
  s.fileRead = false;
  return user;
}

// ---- Fields ---------------------------------------------------------------------

void User::setDefaultValues() {
  Object::setDefaultValues();
  std::lock_guard lock(fieldsMutex_);
  password_.reset();
  sessionToken_.reset();
  isNew_ = false;
  isCurrentUser_ = false;
}

bool User::isAuthenticated() {
  if (isLazy()) return true;
  // The flag is set exactly while this object is the held current user, so
  // no class-wide lock is needed under an object's lock.
  return sessionToken() && isCurrentUser();
}

bool User::isNew() const {
  std::lock_guard lock(fieldsMutex_);
  return isNew_;
}

bool User::isLazy() const {
  std::lock_guard lock(fieldsMutex_);
  return isLazy_;
}

void User::setLazy(bool lazy) {
  std::lock_guard lock(fieldsMutex_);
  isLazy_ = lazy;
}

std::optional<std::string> User::sessionToken() const {
  std::lock_guard lock(fieldsMutex_);
  return sessionToken_;
}

void User::setSessionToken(std::optional<std::string> token) {
  std::lock_guard lock(fieldsMutex_);
  sessionToken_ = std::move(token);
}

std::optional<std::string> User::username() { return stringField(*this, "username"); }
void User::setUsername(const std::string& username) { setObject(Value(username), "username"); }
std::optional<std::string> User::email() { return stringField(*this, "email"); }
void User::setEmail(const std::string& email) { setObject(Value(email), "email"); }

std::optional<std::string> User::password() const {
  std::lock_guard lock(fieldsMutex_);
  return password_;
}

void User::setPassword(const std::string& password) {
  {
    std::lock_guard lock(fieldsMutex_);
    password_ = password;
  }
  markDirty();
}

void User::clearPasswordIfSent(const std::optional<std::string>& sent) {
  std::lock_guard lock(fieldsMutex_);
  if (sent && password_ == sent) password_.reset();
}

Dictionary User::authData() const {
  std::lock_guard lock(fieldsMutex_);
  return authData_;
}

std::set<std::string> User::linkedServiceNames() const {
  std::lock_guard lock(fieldsMutex_);
  return linkedServiceNames_;
}

bool User::isLinkedWith(const std::string& authType) const {
  std::lock_guard lock(fieldsMutex_);
  return linkedServiceNames_.contains(authType);
}

void User::setAuthData(const std::string& authType, const Value& data) {
  std::lock_guard lock(fieldsMutex_);
  authData_.set(authType, data.isNil() ? Value::null() : data);
  if (data.isNilOrNull()) {
    linkedServiceNames_.erase(authType);
  } else {
    linkedServiceNames_.insert(authType);
  }
}

void User::stripAnonymity() {
  {
    std::lock_guard lock(fieldsMutex_);
    if (!linkedServiceNames_.contains(AnonymousAuthenticationProvider::kAuthType)) return;
    linkedServiceNames_.erase(AnonymousAuthenticationProvider::kAuthType);
    authData_.set(AnonymousAuthenticationProvider::kAuthType, Value::null());
  }
  markDirty();
}

void User::checkSetObject(const Value&, std::string_view key) {
  if (key == "username") stripAnonymity();
}

void User::removeObjectForKey(std::string_view key) {
  if (key == "username") throw platform::InvalidArgumentException("Can't remove the username field for a BEUser.");
  Object::removeObjectForKey(key);
}

// ---- Answers and forms ------------------------------------------------------------

void User::mergeFromServer(const Value& result, Completeness completeness) {
  Value token, isNew, authData;
  Value stripped = result;
  if (const Dictionary* answer = result.dictionary()) {
    Dictionary top = *answer;
    token = take(top, "session_token");
    isNew = take(top, "is_new");
    authData = take(top, "auth_data");
    const Value dataValue = top.get("data");
    if (const Dictionary* fields = dataValue.dictionary()) {
      // What sits in "data" wins: it is where the data file keeps them.
      Dictionary data = *fields;
      if (Value inData = take(data, "session_token"); !inData.isNil()) token = inData;
      if (Value inData = take(data, "is_new"); !inData.isNil()) isNew = inData;
      if (Value inData = take(data, "auth_data"); !inData.isNil()) authData = inData;
      // Never a field, whatever an answer says.
      data.remove("password");
      top.set("data", Value(std::move(data)));
    }
    stripped = Value(std::move(top));
  }
  Object::mergeFromServer(stripped, completeness);

  std::vector<std::string> recorded;
  {
    std::lock_guard lock(fieldsMutex_);
    if (const std::string* text = token.string()) sessionToken_ = *text;
    if (isNew.isNumber()) isNew_ = isNew.boolValue();
    if (const Dictionary* entries = authData.dictionary()) {
      for (const auto& [authType, data] : *entries) {
        if (data.isNull()) {
          authData_.remove(authType);
          linkedServiceNames_.erase(authType);
        } else if (data.isDictionary()) {
          authData_.set(authType, data);
          linkedServiceNames_.insert(authType);
          recorded.push_back(authType);
        }
      }
    }
  }
  if (isCurrentUser()) {
    for (const auto& authType : recorded) synchroniseAuthData(authType);
  }
}

Value User::convertToDictionaryForDataFile() {
  const Value form = Object::convertToDictionaryForDataFile();
  Dictionary extra;
  {
    std::lock_guard lock(fieldsMutex_);
    if (sessionToken_) extra.set("session_token", *sessionToken_);
    if (!authData_.empty()) extra.set("auth_data", Value(authData_).deepCopy());
  }
  return withData(form, extra);
}

Value User::convertToDictionaryForSaving(const OperationSet& changes) const {
  const Value form = Object::convertToDictionaryForSaving(changes);
  Dictionary extra;
  {
    std::lock_guard lock(fieldsMutex_);
    if (!authData_.empty()) extra.set("auth_data", Value(authData_).deepCopy());
  }
  return withData(form, extra);
}

void User::mergeFromUser(const User& other) {
  mergeFromObject(other);
  const auto token = other.sessionToken();
  const bool otherIsNew = other.isNew();
  const Dictionary otherAuthData = other.authData();
  const auto otherServices = other.linkedServiceNames();
  std::lock_guard lock(fieldsMutex_);
  sessionToken_ = token;
  isNew_ = otherIsNew;
  authData_ = otherAuthData;
  linkedServiceNames_ = otherServices;
}

// ---- Providers ------------------------------------------------------------------------

void User::registerAuthenticationProvider(const std::shared_ptr<AuthenticationProvider>& provider) {
  if (!provider) throw platform::InvalidArgumentException("Authentication provider must not be nil.");
  const std::string authType = provider->authType();
  {
    users::State& s = users::state();
    std::lock_guard lock(s.providersMutex);
    s.providers[authType] = provider;
  }
  if (UserPtr current = users::held()) current->synchroniseAuthData(authType);
}

void User::synchroniseAllAuthData() {
  for (const auto& [authType, data] : authData()) synchroniseAuthData(authType);
}

void User::synchroniseAuthData(const std::string& authType) {
  auto provider = users::provider(authType);
  if (!provider) return;
  const Value data = authData().get(authType);
  if (data.isNil() || provider->restoreAuthentication(data)) return;
  // Off this thread: the caller may hold this user's lock, and the unlink saves.
  platform::backgroundQueue().post(
      [self = selfUser(), authType] { self->unlinkWithAuthTypeInBackground(authType); });
}

void User::logOutWithAuthTypes() {
  for (const auto& [authType, data] : authData()) {
    if (auto provider = users::provider(authType)) provider->deauthenticate();
  }
}

// ---- Connecting the object layer ---------------------------------------------------------

void installUsers() {
  registerSubclass<User>();
  CurrentUserHooks hooks;
  hooks.sessionToken = [] { return User::currentSessionToken(); };
  hooks.currentUser = []() -> ObjectPtr { return User::currentUser(); };
  hooks.isLazy = [](const ObjectPtr& object) {
    auto user = std::dynamic_pointer_cast<User>(object);
    return user && user->isLazy();
  };
  hooks.saveLazyUser = [](const ObjectPtr& user) { return user->saveAsync(); };
  hooks.hasUnresolvedUser = [](const AccessListBase& list) {
    auto* acl = dynamic_cast<const ACL*>(&list);
    return acl && acl->hasUnresolvedUser();
  };
  installCurrentUserHooks(std::move(hooks));
}

}  // namespace backend
