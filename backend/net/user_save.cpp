// Signing users up, resolving lazy users, linking providers, and the save,
// fetch and delete rules of users.

#include "backend/internal/internal_utils.hpp"
#include "backend/internal/object_save_hooks.hpp"
#include "backend/internal/object_task_support.hpp"
#include "backend/net/command_runners.hpp"
#include "backend/user.hpp"
#include "platform/exceptions.hpp"
#include "user_commands.hpp"
#include "user_state.hpp"

namespace backend {

using detail::failureOf;
using detail::succeeded;
using net::CommandResult;

namespace {

constexpr const char* kAnonymous = AnonymousAuthenticationProvider::kAuthType;

Task<bool> refusal(std::int64_t code, const char* message) {
  return Task<bool>::taskWithError(InternalUtils::errorWithCode(code, message));
}

// A successful answer without a result still means the changes were stored.
Value savedAnswer(const Value& result) { return result.isNilOrNull() ? Value::emptyDictionary() : result; }

// "is_new" false: the server logged an existing account in.
bool isExistingAccount(const Value& result) {
  Value isNew = result["data"]["is_new"];
  if (isNew.isNil()) isNew = result["is_new"];
  return isNew.isNumber() && !isNew.boolValue();
}

void rewriteDataFileIfCurrent(User& user) {
  users::State& s = users::state();
  std::lock_guard lock(s.mutex);
  if (s.current.get() == &user) user.serializeToDataFile(users::kDataFileName);
}

}  // namespace

net::CommandPtr users::userSaveCommand(const std::string& operation, const User& user, const OperationSet& changes,
                                       const std::optional<std::string>& password,
                                       const std::optional<std::string>& sessionToken) {
  const Value params = InternalUtils::encodeObject(user.convertToDictionaryForSaving(changes),
                                                   UnsavedChildren::Disallow, DataObjects::Allow);
  auto command = net::Command::commandWithServerOperation(operation, params, sessionToken);
  if (password) command->params().set("user_password", *password);
  return command;
}

// ---- Signing up ------------------------------------------------------------------------

Task<bool> User::signUpAsync() {
  if (objectId()) {
    // A formerly anonymous user that received a name: its account exists.
    if (authData().get(kAnonymous).isNull()) return saveAsync();
    return refusal(kErrorUsernameTaken, "Cannot sign up a user that has already signed up.");
  }
  const UserPtr current = currentUser();
  if (current && AnonymousUtils::isLinkedWithUser(current)) {
    if (current.get() == this) throw platform::InternalInconsistencyException("Attempt to merge currentUser with itself.");
    const UserPtr self = selfUser();
    return taskQueue().enqueue([&](const Task<void>& awaited) {
      return awaited.continueWith([self, current](const Task<void>&) { return self->signUpIntoAnonymousUser(current); });
    });
  }
  return taskQueue().enqueue([&](const Task<void>& awaited) { return signUpAfter(awaited); });
}

bool User::signUp(std::optional<platform::Error>* error) { return signUpAsync().waitForResult(error); }

void User::signUpInBackground(BoolCallback callback) {
  signUpAsync().thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
}

Task<bool> User::signUpAfter(const Task<void>& awaited) {
  // Runs under the task queue's mutex, so a second sign-up sees the first's
  // save started.
  if (operationSetCount() >= 2) return refusal(kErrorUsernameTaken, "Cannot sign up a user that is already signing up.");
  const FieldMap fields = estimatedDataSnapshot();
  const auto name = fields.find("username");
  if (name == fields.end() || !name->second.isString())
    throw platform::InternalInconsistencyException("Cannot sign up without a username.");
  const auto password = this->password();
  if (!password) throw platform::InternalInconsistencyException("Cannot sign up without a password.");
  if (!isDirty(Children::Ignore) || objectId())
    throw platform::InternalInconsistencyException("Cannot sign up an existing user.");

  const auto sessionToken = backend::currentSessionToken();
  platform::Dictionary values;
  for (const auto& [key, value] : fields) values.append(key, value);
  const OperationSet changes = unsavedChanges();
  startSave();

  const UserPtr self = selfUser();
  // The objects the user points to are saved first, off this queue's mutex:
  // saving them takes their queues.
  return awaited
      .continueWith([values = Value(std::move(values)), sessionToken](const Task<void>&) {
        return Object::deepSaveAsync(values, sessionToken);
      })
      .onSuccess([self, changes, password, sessionToken](const Task<bool>&) {
        return net::RetryingCommandRunner::runCommandAsync(
            users::userSaveCommand("user_signup", *self, changes, password, sessionToken));
      })
      .continueWith([self, password](const Task<CommandResult>& run) -> Task<bool> {
        if (!succeeded(run)) {
          self->mergeAfterSave(Value());
          return failureOf<bool>(run);
        }
        self->clearPasswordIfSent(password);
        self->handleSignUpResult(run.result().result);
        return Task<bool>::taskWithResult(true);
      });
}

void User::handleSignUpResult(const Value& result) {
  mergeAfterSave(savedAnswer(result));
  {
    std::lock_guard lock(fieldsMutex_);
    isNew_ = true;
    isLazy_ = false;
  }
  saveCurrentUser(selfUser());
  notifySaveListeners(std::nullopt);
}

Task<bool> User::signUpIntoAnonymousUser(const UserPtr& current) {
  if (current->isLazy()) {
    // Its anonymous id may already have an account: resolve it first so the
    // name goes to that account, not to a fresh one that orphans it.
    const UserPtr self = selfUser();
    return current->resolveLazinessAsync().onSuccess([self](const Task<bool>&) {
      const UserPtr account = currentUser();
      if (!account || account->isLazy() || account.get() == self.get())
        return refusal(kErrorObjectNotFound, "The anonymous user could not be resolved.");
      return self->signUpIntoAnonymousUser(account);
    });
  }
  checkForChangesToMutableContainers();
  current->checkForChangesToMutableContainers();
  // The changes stay here too until the account took them, so a failure loses nothing.
  const OperationSet taken = unsavedChanges();
  for (const auto& [key, operation] : taken) current->performOperation(operation, key);
  if (taken.contains("username")) current->stripAnonymity();
  current->markDirty();
  if (auto password = this->password()) current->setPassword(*password);
  rebuildEstimatedData();
  current->rebuildEstimatedData();
  const UserPtr self = selfUser();
  return current->saveAsync().onSuccess([self, current](const Task<bool>&) {
    self->mergeFromUser(*current);
    self->clearPasswordIfSent(self->password());
    saveCurrentUser(self);
    return true;
  });
}

// ---- Lazy users and provider log-ins ------------------------------------------------------

Task<bool> User::resolveLazinessAsync() {
  if (!isLazy()) return Task<bool>::taskWithResult(true);
  if (linkedServiceNames().empty()) {
    const UserPtr self = selfUser();
    return signUpAsync().onSuccess([self](const Task<bool>& signedUp) {
      self->setLazy(false);
      return signedUp.result();
    });
  }
  return taskQueue().enqueue([&](const Task<void>& awaited) { return signUpOrLogInAfter(awaited); });
}

Task<bool> User::signUpOrLogInAfter(const Task<void>& awaited) {
  const auto sessionToken = backend::currentSessionToken();
  platform::Dictionary values;
  for (const auto& [key, value] : estimatedDataSnapshot()) values.append(key, value);
  const OperationSet changes = unsavedChanges();
  startSave();
  const auto password = this->password();
  const UserPtr self = selfUser();
  // As in a sign-up, the new objects the user points to are saved first: its
  // command can only name them by their object ids.
  return awaited
      .continueWith([values = Value(std::move(values)), sessionToken](const Task<void>&) {
        return Object::deepSaveAsync(values, sessionToken);
      })
      .onSuccess([self, changes, password](const Task<bool>&) {
        return net::NetworkCommandRunner::runCommandAsync(
            users::userSaveCommand("user_signup_or_login", *self, changes, password, std::nullopt));
      })
      .continueWith([self, password](const Task<CommandResult>& run) -> Task<bool> {
        if (!succeeded(run)) {
          self->mergeAfterSave(Value());
          return failureOf<bool>(run);
        }
        const Value result = run.result().result;
        if (!result.isDictionary()) {
          self->mergeAfterSave(Value());
          return refusal(kErrorObjectNotFound, "invalid login credentials");
        }
        self->clearPasswordIfSent(password);
        if (isExistingAccount(result)) {
          // The account is not this user's: a user of its own takes it.
          self->mergeAfterSave(Value());
          auto account = std::dynamic_pointer_cast<User>(
              Object::objectWithClassName(backendClassName(), Creation::Pointer));
          account->handleSignUpOrLogInResult(result);
          self->takeExistingAccount(result);
          return Task<bool>::taskWithResult(true);
        }
        self->handleSignUpOrLogInResult(result);
        return Task<bool>::taskWithResult(true);
      });
}

void User::takeExistingAccount(const Value& result) {
  // Objects and access lists still point at this user: left lazy without an
  // object id, a later save would try to create it as a new "_User" (and an
  // access list for it would never resolve). Its own changes, which the
  // account did not take, stay pending for a save of the account.
  mergeAfterFetch(result, Completeness::Partial);
  setLazy(false);
  // Access lists made for the lazy user wait on its save listeners.
  notifySaveListeners(std::nullopt);
}

void User::handleSignUpOrLogInResult(const Value& result) {
  mergeAfterSave(result);
  setLazy(false);
  saveCurrentUser(selfUser());
  notifySaveListeners(std::nullopt);
}

// ---- Linking -------------------------------------------------------------------------------

Task<bool> User::linkWithAuthTypeAsync(const std::string& authType, const Value& authData) {
  const Value formerAnonymous = this->authData().get(kAnonymous);
  setAuthData(authType, authData);
  if (authType != kAnonymous) stripAnonymity();
  const UserPtr self = selfUser();
  return saveAsync().continueWith([self, formerAnonymous](const Task<bool>& saved) {
    // A failed link leaves the user as anonymous as it was.
    if (!succeeded(saved) && formerAnonymous.isDictionary()) self->setAuthData(kAnonymous, formerAnonymous);
    return saved;
  });
}

void User::linkWithAuthType(const std::string& authType, const Value& authData, BoolCallback callback) {
  linkWithAuthTypeAsync(authType, authData).thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
}

void User::linkWithAuthType(const std::string& authType, BoolCallback callback) {
  auto credentials = users::authenticate(authType);
  const UserPtr self = selfUser();
  credentials
      .onSuccess([self, authType](const Task<Value>& obtained) {
        return self->linkWithAuthTypeAsync(authType, obtained.result());
      })
      .thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
}

void User::linkWithProvider(const std::shared_ptr<AuthenticationProvider>& provider, BoolCallback callback) {
  registerAuthenticationProvider(provider);
  linkWithAuthType(provider->authType(), std::move(callback));
}

Task<bool> User::unlinkWithAuthTypeAsync(const std::string& authType) {
  if (!authData().contains(authType)) return Task<bool>::taskWithResult(true);
  setAuthData(authType, Value::null());
  return saveAsync();
}

bool User::unlinkWithAuthType(const std::string& authType, std::optional<platform::Error>* error) {
  return unlinkWithAuthTypeAsync(authType).waitForResult(error);
}

void User::unlinkWithAuthTypeInBackground(const std::string& authType, BoolCallback callback) {
  unlinkWithAuthTypeAsync(authType).thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
}

// ---- Object overrides ------------------------------------------------------------------------

Task<bool> User::saveAsync() {
  if (isLazy()) return resolveLazinessAsync();
  const auto password = this->password();
  const UserPtr self = selfUser();
  return Object::saveAsync().onSuccess([self, password](const Task<bool>& saved) {
    self->clearPasswordIfSent(password);
    self->dropUnlinkedAuthData();
    rewriteDataFileIfCurrent(*self);
    return saved.result();
  });
}

Task<bool> User::saveEventually(BoolCallback callback) {
  const UserPtr self = selfUser();
  // The offline queue cannot sign a user up: a lazy user is resolved now.
  Task<bool> outcome = isLazy() ? saveAsync() : Object::saveEventually().onSuccess([self](const Task<bool>& saved) {
    // The password never goes through the offline queue (it would be stored
    // on disk): it stays to be sent by the next save.
    if (self->password()) self->markDirty();
    self->dropUnlinkedAuthData();
    rewriteDataFileIfCurrent(*self);
    return saved.result();
  });
  if (callback) outcome.thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
  return outcome;
}

Task<ObjectPtr> User::fetchAsync() {
  if (isLazy()) return Task<ObjectPtr>::taskWithResult(selfUser());
  const UserPtr self = selfUser();
  return Object::fetchAsync().onSuccess([self](const Task<ObjectPtr>& fetched) {
    rewriteDataFileIfCurrent(*self);
    return fetched.result();
  });
}

Task<bool> User::deleteAsync() {
  const UserPtr self = selfUser();
  return Object::deleteAsync().onSuccess([self](const Task<bool>& deleted) {
    if (self->isCurrentUser()) logOut();
    return deleted.result();
  });
}

void User::checkSaveParams() {
  if (!objectId() && !isLazy())
    throw platform::InternalInconsistencyException(
        "User cannot be saved unless they are already signed up. Call signUp first.");
  if (isAuthenticated()) return;
  const UserPtr current = users::held();
  if (current && current->objectId() && current->objectId() == objectId()) return;
  throw platform::InternalInconsistencyException(
      "User cannot be saved unless they have been authenticated via logIn or signUp");
}

void User::checkDeleteParams() {
  if (!isAuthenticated())
    throw platform::InternalInconsistencyException(
        "User cannot be deleted unless they have been authenticated via logIn or signUp");
}

void User::dropUnlinkedAuthData() {
  std::lock_guard lock(fieldsMutex_);
  std::vector<std::string> unlinked;
  for (const auto& [authType, data] : authData_) {
    if (data.isNull()) unlinked.push_back(authType);
  }
  for (const auto& authType : unlinked) authData_.remove(authType);
}

}  // namespace backend
