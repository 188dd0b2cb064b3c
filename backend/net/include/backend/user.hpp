#pragma once
// A user: the data object of the reserved class "_User" that stands for a
// person using the application, and the process's one current user.
//
// The current user is kept in the data file "currentUser" between runs (its
// fields, its session token and its authentication data; never its
// password), and its session token goes with every command. A user comes
// from sign-up, log-in by name and password, log-in by session token
// (become), an authentication provider, or, with the automatic user
// enabled, is made locally as an anonymous "lazy" user that the server
// first sees when it is saved or signs up.
//
// Locks: the class-wide current-user lock is taken before an object's lock;
// a user's own fields (password, session token, flags, authentication data)
// sit under a leaf lock that is never held across a call out.
//
// Call styles: ...Async answers a task; the blocking form waits (warning on
// the main thread) and hands the error to the optional out-parameter; the
// InBackground form calls back on the main queue (with no callback it only
// starts the work). Failures of the network or the server are task errors
// and leave the current user unchanged; misuse raises.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "backend/object.hpp"
#include "backend/query.hpp"
#include "backend/task.hpp"
#include "platform/error.hpp"
#include "platform/value.hpp"

namespace backend {

class User;
using UserPtr = std::shared_ptr<User>;

namespace users {
void hold(const UserPtr& user);
}

// One external identity service that can vouch for a user.
class AuthenticationProvider {
 public:
  virtual ~AuthenticationProvider() = default;
  // The key of its data in a user's authentication data ("anonymous", ...).
  virtual std::string authType() const = 0;
  // Obtains fresh credentials and calls exactly one of the three, on any thread.
  virtual void authenticate(std::function<void(const Value& authData)> success,
                            std::function<void(const platform::Error& error)> failure,
                            std::function<void()> cancel) = 0;
  // Whether it accepts stored data (a dictionary, or the null marker for
  // data that was unlinked).
  virtual bool restoreAuthentication(const Value& authData) = 0;
  // Forgets the credentials it holds (at log-out).
  virtual void deauthenticate() = 0;
};

// The built-in provider of anonymous users: its data is {"id": a new UUID in
// lower case}.
class AnonymousAuthenticationProvider final : public AuthenticationProvider {
 public:
  static constexpr const char* kAuthType = "anonymous";
  static Value freshAuthData();

  std::string authType() const override { return kAuthType; }
  void authenticate(std::function<void(const Value& authData)> success,
                    std::function<void(const platform::Error& error)> failure, std::function<void()> cancel) override;
  bool restoreAuthentication(const Value& authData) override;
  void deauthenticate() override {}
};

// Anonymous users: the provider registered on first use, log-in as a new
// anonymous user, and the lazy user of the automatic-user mode.
class AnonymousUtils {
 public:
  AnonymousUtils() = delete;
  using UserCallback = std::function<void(const UserPtr& user, const std::optional<platform::Error>& error)>;

  // Signs up (or logs in) a user known only by a fresh anonymous id; it
  // becomes the current user.
  static Task<UserPtr> logInAsync();
  static UserPtr logIn(std::optional<platform::Error>* error = nullptr);
  static void logInInBackground(UserCallback callback = nullptr);
  // True when the user is linked with the anonymous provider.
  static bool isLinkedWithUser(const UserPtr& user);
  // A new lazy user with fresh anonymous data, made the current user but not
  // written to disk until it is resolved.
  static UserPtr lazyLogIn();
  // Registers the anonymous provider unless it already is.
  static void registerProvider();
};

class User : public Object {
 public:
  static std::string backendClassName() { return "_User"; }
  // Raises InvalidArgumentException "Cannot initialize a BEUser with a
  // custom class name." for any name but "_User".
  static void validateClassName(std::string_view className);

  using UserCallback = std::function<void(const UserPtr& user, const std::optional<platform::Error>& error)>;

  // ---- The current user ------------------------------------------------------

  // The held current user; at first use the one stored in the data file;
  // failing that, with the automatic user enabled, a new lazy user. nullptr
  // when there is none.
  static UserPtr currentUser();
  // The current user's session token; nullopt without a current user or for
  // a lazy one.
  static std::optional<std::string> currentSessionToken();
  // A new, empty user; a query on "_User".
  static UserPtr user();
  static QueryPtr query();
  // Forgets the current user: deletes the data file, asks the providers it
  // is linked with to deauthenticate, clears its session token. Local only.
  static void logOut();
  // With the automatic user on, currentUser never answers nullptr.
  static void enableAutomaticUser();
  static bool isAutomaticUserEnabled();
  static void resetAutomaticUserEnabled();
  // Makes the user the current one (logging out another) and writes its data file.
  static void saveCurrentUser(const UserPtr& user);
  // Forgets the held current user so that the next access reads the file again.
  static void clearCurrentUser();

  // ---- Logging in -------------------------------------------------------------

  // "user_login": the user becomes current. A refusal is code 101 "invalid
  // login credentials".
  static Task<UserPtr> logInAsync(const std::string& username, const std::string& password);
  static UserPtr logIn(const std::string& username, const std::string& password,
                       std::optional<platform::Error>* error = nullptr);
  static void logInInBackground(const std::string& username, const std::string& password,
                                UserCallback callback = nullptr);
  // "client_me" with the token: its user becomes current. An unknown token
  // is code 101 "Invalid Session Token."; a missing one raises
  // InvalidArgumentException "Session Token must be provided for login.".
  static Task<UserPtr> becomeAsync(const std::optional<std::string>& sessionToken);
  static UserPtr become(const std::optional<std::string>& sessionToken, std::optional<platform::Error>* error = nullptr);
  static void becomeInBackground(const std::optional<std::string>& sessionToken, UserCallback callback = nullptr);
  // The user of a session token, without making it current (failures as become).
  static Task<UserPtr> userForSessionTokenAsync(const std::string& sessionToken);
  // "user_request_password_reset": true once the service took the request.
  static Task<bool> requestPasswordResetAsync(const std::string& email);
  static bool requestPasswordReset(const std::string& email, std::optional<platform::Error>* error = nullptr);
  static void requestPasswordResetInBackground(const std::string& email, BoolCallback callback = nullptr);

  // ---- Authentication providers -----------------------------------------------

  // Stores the provider under its type and lets it restore the current
  // user's data of that type (a refusal unlinks that type in the background).
  static void registerAuthenticationProvider(const std::shared_ptr<AuthenticationProvider>& provider);
  // Asks the registered provider for credentials, then logs in with them.
  // An unregistered type raises InvalidArgumentException "No registered
  // authentication provider found for type <type>.".
  static Task<UserPtr> logInWithAuthTypeAsync(const std::string& authType);
  // Logs in with the provider's data: a lazy anonymous current user takes it
  // and is resolved; a signed-up anonymous current user is linked with it;
  // otherwise "user_signup_or_login" finds or creates the account.
  static Task<UserPtr> logInWithAuthTypeAsync(const std::string& authType, const Value& authData);
  static void logInWithAuthType(const std::string& authType, UserCallback callback);
  static void logInWithAuthType(const std::string& authType, const Value& authData, UserCallback callback);
  static void logInWithProvider(const std::shared_ptr<AuthenticationProvider>& provider, UserCallback callback);
  // A lazy user carrying the data, made current (not written to disk).
  static UserPtr logInLazyUserWithAuthType(const std::string& authType, const Value& authData);

  // ---- Signing up ---------------------------------------------------------------

  // Creates the account ("user_signup") and makes the user current. A user
  // without a name or password, or one that is not new, raises
  // InternalInconsistencyException ("Cannot sign up without a username.",
  // "Cannot sign up without a password.", "Cannot sign up an existing
  // user."); a user that has signed up fails with code 202 "Cannot sign up a
  // user that has already signed up.", one whose sign-up is in flight with
  // 202 "Cannot sign up a user that is already signing up.". While the
  // current user is anonymous, its account takes this user's fields instead.
  Task<bool> signUpAsync();
  bool signUp(std::optional<platform::Error>* error = nullptr);
  void signUpInBackground(BoolCallback callback = nullptr);

  // ---- State ------------------------------------------------------------------

  // True for a lazy user, else for the current user with a session token.
  bool isAuthenticated();
  bool isCurrentUser() const { return isCurrentUser_.load(); }
  bool isNew() const;
  bool isLazy() const;
  std::optional<std::string> sessionToken() const;
  std::optional<std::string> username();
  void setUsername(const std::string& username);
  // Kept in memory only and sent once with the next sign-up, log-in or save.
  std::optional<std::string> password() const;
  void setPassword(const std::string& password);
  std::optional<std::string> email();
  void setEmail(const std::string& email);
  // Type → the provider's data, or the null marker for an unlinked type.
  platform::Dictionary authData() const;
  std::set<std::string> linkedServiceNames() const;
  bool isLinkedWith(const std::string& authType) const;

  // ---- Linking --------------------------------------------------------------------

  // Stores the data under the type, drops anonymity and saves the user.
  Task<bool> linkWithAuthTypeAsync(const std::string& authType, const Value& authData);
  void linkWithAuthType(const std::string& authType, const Value& authData, BoolCallback callback);
  // The same with fresh credentials from the registered provider.
  void linkWithAuthType(const std::string& authType, BoolCallback callback);
  void linkWithProvider(const std::shared_ptr<AuthenticationProvider>& provider, BoolCallback callback);
  // Marks the type unlinked (null data) and saves: whether the save
  // succeeded (true at once when the user holds no data of the type).
  Task<bool> unlinkWithAuthTypeAsync(const std::string& authType);
  bool unlinkWithAuthType(const std::string& authType, std::optional<platform::Error>* error = nullptr);
  void unlinkWithAuthTypeInBackground(const std::string& authType, BoolCallback callback = nullptr);

  // ---- Object overrides ---------------------------------------------------------

  // A lazy user is resolved (signed up) instead; a current user is written
  // to its data file again after a save or fetch; deleting the current user
  // logs out.
  Task<bool> saveAsync() override;
  // A lazy user is resolved at once (the offline queue cannot sign users
  // up); otherwise as for saveAsync, except that a new password stays
  // pending: it is never stored in the offline queue.
  Task<bool> saveEventually(BoolCallback callback = nullptr) override;
  Task<ObjectPtr> fetchAsync() override;
  Task<bool> deleteAsync() override;
  // InternalInconsistencyException "User cannot be saved unless they are
  // already signed up. Call signUp first." / "User cannot be saved unless
  // they have been authenticated via logIn or signUp".
  void checkSaveParams() override;
  // InternalInconsistencyException "User cannot be deleted unless they have
  // been authenticated via logIn or signUp".
  void checkDeleteParams() override;
  // Takes "session_token", "is_new" and "auth_data" of the answer (or of its
  // "data"), which never become fields.
  void mergeFromServer(const Value& result, Completeness completeness) override;
  // Both forms carry "auth_data" when there is any; the data file also the
  // session token. Neither carries the password.
  Value convertToDictionaryForDataFile() override;
  Value convertToDictionaryForSaving(const OperationSet& changes) const override;
  // Raises InvalidArgumentException "Can't remove the username field for a BEUser.".
  void removeObjectForKey(std::string_view key) override;

 protected:
  void setDefaultValues() override;
  // Setting "username" drops anonymity first.
  void checkSetObject(const Value& value, std::string_view key) override;

 private:
  friend class AnonymousUtils;
  friend void users::hold(const UserPtr& user);

  UserPtr selfUser();
  void stripAnonymity();
  void setAuthData(const std::string& authType, const Value& data);
  void clearPasswordIfSent(const std::optional<std::string>& sent);
  void setSessionToken(std::optional<std::string> token);
  void setLazy(bool lazy);
  void setCurrentUserFlag(bool current) { isCurrentUser_ = current; }
  // Tells the registered providers of this user's types about their data.
  void synchroniseAllAuthData();
  void synchroniseAuthData(const std::string& authType);
  void logOutWithAuthTypes();
  // Takes the session token, isNew, authentication data and services of another user.
  void mergeFromUser(const User& other);

  Task<bool> signUpAfter(const Task<void>& awaited);
  Task<bool> signUpIntoAnonymousUser(const UserPtr& current);
  void handleSignUpResult(const Value& result);
  void handleSignUpOrLogInResult(const Value& result);
  // A lazy user whose resolution logged an existing account in (now held
  // by another user object) takes that account's id and session.
  void takeExistingAccount(const Value& result);
  // A lazy user's save: signs it up or logs its provider's account in.
  Task<bool> resolveLazinessAsync();
  // Drops the types marked unlinked once the server has seen them.
  void dropUnlinkedAuthData();
  Task<bool> signUpOrLogInAfter(const Task<void>& awaited);

  mutable std::mutex fieldsMutex_;  // leaf lock of the fields below
  std::optional<std::string> password_;
  std::optional<std::string> sessionToken_;
  bool isNew_ = false;
  bool isLazy_ = false;
  platform::Dictionary authData_;
  std::set<std::string> linkedServiceNames_;
  std::atomic<bool> isCurrentUser_{false};
};

// Registers User as the native class of "_User" and connects the object
// layer to the current user (session token, lazy user, unresolved access
// lists). Called at configuration; repeated calls change nothing.
void installUsers();

}  // namespace backend
