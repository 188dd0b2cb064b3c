// Logging users in: by name and password, by session token, through an
// authentication provider, and anonymously; and the password reset.

#include <cctype>

#include "backend/internal/internal_utils.hpp"
#include "backend/internal/object_save_hooks.hpp"
#include "backend/net/command_runners.hpp"
#include "backend/user.hpp"
#include "platform/exceptions.hpp"
#include "user_commands.hpp"
#include "user_state.hpp"

namespace backend {

using net::Command;
using net::CommandResult;
using net::NetworkCommandRunner;

namespace {

// The user of a log-in answer, made current; code 101 with `refusal` when
// the answer names none.
Task<UserPtr> currentUserFromAnswer(const Task<CommandResult>& run, const char* refusal) {
  UserPtr user = users::userFromAnswer(run.result().result);
  if (!user) return Task<UserPtr>::taskWithError(InternalUtils::errorWithCode(kErrorObjectNotFound, refusal));
  User::saveCurrentUser(user);
  return Task<UserPtr>::taskWithResult(user);
}

}  // namespace

namespace users {

UserPtr userFromAnswer(const Value& result) {
  if (!result.isDictionary()) return nullptr;
  auto user = std::dynamic_pointer_cast<User>(Object::objectWithClassName(User::backendClassName(), Creation::Pointer));
  if (!user) return nullptr;
  user->mergeAfterFetch(result, Completeness::Complete);
  return user;
}

}  // namespace users

Task<UserPtr> User::logInAsync(const std::string& username, const std::string& password) {
  auto command = Command::commandWithServerOperation(
      "user_login", Value::dictionary({{"username", Value(username)}, {"user_password", Value(password)}}),
      std::nullopt);
  return NetworkCommandRunner::runCommandAsync(command).onSuccess(
      [](const Task<CommandResult>& run) { return currentUserFromAnswer(run, "invalid login credentials"); });
}

UserPtr User::logIn(const std::string& username, const std::string& password, std::optional<platform::Error>* error) {
  return logInAsync(username, password).waitForResult(error);
}

void User::logInInBackground(const std::string& username, const std::string& password, UserCallback callback) {
  logInAsync(username, password).thenCallBackOnMainThreadAsync(std::move(callback));
}

Task<UserPtr> User::userForSessionTokenAsync(const std::string& sessionToken) {
  auto command = Command::commandWithServerOperation("client_me", Value::emptyDictionary(), sessionToken);
  return NetworkCommandRunner::runCommandAsync(command).onSuccess([](const Task<CommandResult>& run) {
    UserPtr user = users::userFromAnswer(run.result().result);
    if (!user)
      return Task<UserPtr>::taskWithError(InternalUtils::errorWithCode(kErrorObjectNotFound, "Invalid Session Token."));
    return Task<UserPtr>::taskWithResult(user);
  });
}

Task<UserPtr> User::becomeAsync(const std::optional<std::string>& sessionToken) {
  if (!sessionToken) throw platform::InvalidArgumentException("Session Token must be provided for login.");
  return userForSessionTokenAsync(*sessionToken).onSuccess([](const Task<UserPtr>& found) {
    saveCurrentUser(found.result());
    return found.result();
  });
}

UserPtr User::become(const std::optional<std::string>& sessionToken, std::optional<platform::Error>* error) {
  return becomeAsync(sessionToken).waitForResult(error);
}

void User::becomeInBackground(const std::optional<std::string>& sessionToken, UserCallback callback) {
  becomeAsync(sessionToken).thenCallBackOnMainThreadAsync(std::move(callback));
}

Task<bool> User::requestPasswordResetAsync(const std::string& email) {
  auto command = Command::commandWithServerOperation("user_request_password_reset",
                                                     Value::dictionary({{"email", Value(email)}}), std::nullopt);
  return NetworkCommandRunner::runCommandAsync(command).onSuccess([](const Task<CommandResult>&) { return true; });
}

bool User::requestPasswordReset(const std::string& email, std::optional<platform::Error>* error) {
  return requestPasswordResetAsync(email).waitForResult(error);
}

void User::requestPasswordResetInBackground(const std::string& email, BoolCallback callback) {
  requestPasswordResetAsync(email).thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
}

// ---- Authentication providers ------------------------------------------------------

Task<UserPtr> User::logInWithAuthTypeAsync(const std::string& authType) {
  return users::authenticate(authType).onSuccess([authType](const Task<Value>& obtained) {
    return logInWithAuthTypeAsync(authType, obtained.result());
  });
}

Task<UserPtr> User::logInWithAuthTypeAsync(const std::string& authType, const Value& authData) {
  const UserPtr current = currentUser();
  if (current && AnonymousUtils::isLinkedWithUser(current)) {
    if (current->isLazy()) {
      current->stripAnonymity();
      current->setAuthData(authType, authData);
      // Resolving may find an existing account, which then becomes current.
      return current->saveAsync().onSuccess([](const Task<bool>&) { return currentUser(); });
    }
    return current->linkWithAuthTypeAsync(authType, authData).onSuccess([current](const Task<bool>&) {
      return current;
    });
  }
  const UserPtr user = User::user();
  user->setAuthData(authType, authData);
  return user->taskQueue()
      .enqueue([&](const Task<void>& awaited) { return user->signUpOrLogInAfter(awaited); })
      .onSuccess([](const Task<bool>&) { return currentUser(); });
}

void User::logInWithAuthType(const std::string& authType, UserCallback callback) {
  logInWithAuthTypeAsync(authType).thenCallBackOnMainThreadAsync(std::move(callback));
}

void User::logInWithAuthType(const std::string& authType, const Value& authData, UserCallback callback) {
  logInWithAuthTypeAsync(authType, authData).thenCallBackOnMainThreadAsync(std::move(callback));
}

void User::logInWithProvider(const std::shared_ptr<AuthenticationProvider>& provider, UserCallback callback) {
  registerAuthenticationProvider(provider);
  logInWithAuthType(provider->authType(), std::move(callback));
}

// ---- Anonymous users ---------------------------------------------------------------------

Value AnonymousAuthenticationProvider::freshAuthData() {
  std::string id = InternalUtils::createUUID();
  for (char& c : id) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return Value::dictionary({{"id", Value(std::move(id))}});
}

void AnonymousAuthenticationProvider::authenticate(std::function<void(const Value& authData)> success,
                                                   std::function<void(const platform::Error& error)>,
                                                   std::function<void()>) {
  success(freshAuthData());
}

bool AnonymousAuthenticationProvider::restoreAuthentication(const Value&) { return true; }

void AnonymousUtils::registerProvider() {
  if (!users::provider(AnonymousAuthenticationProvider::kAuthType))
    User::registerAuthenticationProvider(std::make_shared<AnonymousAuthenticationProvider>());
}

Task<UserPtr> AnonymousUtils::logInAsync() {
  registerProvider();
  return User::logInWithAuthTypeAsync(AnonymousAuthenticationProvider::kAuthType);
}

UserPtr AnonymousUtils::logIn(std::optional<platform::Error>* error) { return logInAsync().waitForResult(error); }

void AnonymousUtils::logInInBackground(UserCallback callback) {
  logInAsync().thenCallBackOnMainThreadAsync(std::move(callback));
}

bool AnonymousUtils::isLinkedWithUser(const UserPtr& user) {
  return user && user->isLinkedWith(AnonymousAuthenticationProvider::kAuthType);
}

UserPtr AnonymousUtils::lazyLogIn() {
  registerProvider();
  return User::logInLazyUserWithAuthType(AnonymousAuthenticationProvider::kAuthType,
                                         AnonymousAuthenticationProvider::freshAuthData());
}

}  // namespace backend
