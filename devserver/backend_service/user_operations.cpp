#include "operations.hpp"

#include "backend_error.hpp"
#include "query_engine.hpp"
#include "request_signature.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace devserver::backend {
namespace {

constexpr int kHashIterations = 1000;

std::string hashPassword(const std::string& password, const std::string& salt) {
  unsigned char digest[32];
  PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                    reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                    kHashIterations, EVP_sha256(), sizeof digest, digest);
  return base64Encode(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

bool passwordMatches(const Credentials& credentials, const std::string& password) {
  std::string hash = hashPassword(password, credentials.salt);
  return hash.size() == credentials.hash.size() &&
         CRYPTO_memcmp(hash.data(), credentials.hash.data(), hash.size()) == 0;
}

void setPassword(Credentials& credentials, const std::string& password) {
  credentials.salt = randomAlphanumeric(16);
  credentials.hash = hashPassword(password, credentials.salt);
}

std::optional<std::string> nonEmptyString(const Json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string() || it->get_ref<const std::string&>().empty()) return std::nullopt;
  return it->get<std::string>();
}

constexpr std::size_t kMaxProviderIdLength = 256;

// The "auth_data" of a sign-up or save; every provider it links must be one
// the service knows (unlinking, a null entry, is always allowed).
const Json* authDataOf(const Json& params, const Json& data, const std::set<std::string>& knownProviders) {
  for (const Json* source : {&params, &data}) {
    auto it = source->find("auth_data");
    if (it == source->end() || it->is_null()) continue;
    if (!it->is_object()) throw BackendError(code::kIncorrectType, "\"auth_data\" must be an object");
    for (const auto& [provider, providerData] : it->items()) {
      if (!providerData.is_null() && !knownProviders.count(provider)) {
        throw BackendError(code::kUnsupportedProvider,
                           "unsupported authentication provider \"" + provider.substr(0, 64) + "\"");
      }
    }
    return &*it;
  }
  return nullptr;
}

std::string providerIdOf(const std::string& provider, const Json& providerData) {
  auto id = providerData.is_object() ? providerData.find("id") : providerData.end();
  bool usable = id != providerData.end() &&
                ((id->is_string() && !id->get_ref<const std::string&>().empty() &&
                  id->get_ref<const std::string&>().size() <= kMaxProviderIdLength) ||
                 id->is_number_integer());
  if (!usable) throw BackendError(code::kIncorrectType, "auth_data of \"" + provider + "\" needs an \"id\"");
  return id->is_string() ? id->get<std::string>() : id->dump();
}

void linkProviders(ObjectStore& store, const std::string& userId, const Json* authData) {
  if (!authData) return;
  for (const auto& [provider, providerData] : authData->items()) {
    if (providerData.is_null()) {
      store.unlinkProvider(provider, userId);
      continue;
    }
    std::string providerId = providerIdOf(provider, providerData);
    auto owner = store.userForProvider(provider, providerId);
    if (owner && *owner != userId) {
      throw BackendError(code::kOperationForbidden, "this " + provider + " account is linked to another user");
    }
    store.linkProvider(provider, providerId, userId);
  }
}

void checkEmailUnique(ObjectStore& store, const StoredObject& user) {
  auto email = user.fields.find("email");
  if (email == user.fields.end() || email->is_null()) return;
  if (!email->is_string()) throw BackendError(code::kIncorrectType, "\"email\" must be a string");
  for (const auto& other : store.withText("_User", "email", email->get<std::string>())) {
    if (other.objectId != user.objectId) {
      throw BackendError(code::kEmailTaken,
                         "the email address " + email->get<std::string>() + " has already been taken");
    }
  }
}

std::optional<StoredObject> userByEmail(ObjectStore& store, const std::string& email) {
  auto found = store.withText("_User", "email", email);
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

std::string startSession(ObjectStore& store, const std::string& userId) {
  std::string token = "r:" + randomAlphanumeric(32);
  store.addSession(token, userId);
  return token;
}

// A signed-in user's answer: the "data" form plus the session token, whether
// the account is new, and the providers it is linked with ("auth_data", each
// as {"id"}). The client reads them inside "data"; the token and "is_new"
// also stand beside it for readers of the older form.
Json sessionAnswer(ObjectStore& store, const std::string& userId, Json data, const std::string& token,
                   std::optional<bool> isNew) {
  data["session_token"] = token;
  Json answer{{"session_token", token}};
  if (isNew) data["is_new"] = answer["is_new"] = *isNew;
  Json authData = Json::object();
  for (const auto& [provider, providerId] : store.providersOf(userId)) authData[provider] = Json{{"id", providerId}};
  if (!authData.empty()) data["auth_data"] = std::move(authData);
  answer["data"] = std::move(data);
  return answer;
}

Json logInAnswer(ObjectStore& store, const StoredObject& user, std::optional<bool> isNew) {
  return sessionAnswer(store, user.objectId, objectData(user), startSession(store, user.objectId), isNew);
}

// Creates a user from a save's data. Without a password (a provider's
// sign-up) the account gets an unguessable one.
Json createUser(ObjectStore& store, const Json& data, const std::optional<std::string>& password,
                const Json* authData, std::optional<bool> isNew) {
  StoredObject user;
  user.className = "_User";
  user.objectId = newObjectId(store, "_User");
  user.createdAt = user.updatedAt = nowMillis();
  ObjectStore::Transaction transaction(store);
  Json changed = applyChanges(store, user, data);
  auto username = nonEmptyString(user.fields, "username");
  if (!username && authData) {
    username = randomAlphanumeric(25);
    user.fields["username"] = changed["username"] = *username;
  }
  if (!username) throw BackendError(code::kUsernameMissing, "bad or missing username");
  if (!password && !authData) throw BackendError(code::kPasswordMissing, "password is required");
  if (store.credentialsForUsername(*username)) {
    throw BackendError(code::kUsernameTaken, "Account already exists for this username.");
  }
  checkEmailUnique(store, user);
  if (!user.fields.contains("ACL")) {
    user.fields["ACL"] = changed["ACL"] = Json{{"*", {{"read", true}}}, {user.objectId, {{"read", true}, {"write", true}}}};
  }
  checkObjectSize(user);
  store.put(user);
  Credentials credentials{user.objectId, *username, "", ""};
  setPassword(credentials, password.value_or(randomAlphanumeric(32)));
  store.putCredentials(credentials);
  linkProviders(store, user.objectId, authData);
  std::string token = startSession(store, user.objectId);
  transaction.commit();
  return sessionAnswer(store, user.objectId, saveResult(user, changed)["data"], token, isNew);
}

}  // namespace

void applyAccountChanges(ObjectStore& store, StoredObject& user, const Json& params, const Json& data,
                         const std::set<std::string>& knownProviders) {
  auto credentials = store.credentialsForUser(user.objectId);
  if (!credentials) throw BackendError(code::kObjectNotFound, "object not found for update");
  auto username = nonEmptyString(user.fields, "username");
  if (!username) throw BackendError(code::kUsernameMissing, "bad or missing username");
  if (*username != credentials->username) {
    if (store.credentialsForUsername(*username)) {
      throw BackendError(code::kUsernameTaken, "Account already exists for this username.");
    }
    credentials->username = *username;
  }
  if (data.contains("email")) checkEmailUnique(store, user);
  if (params.contains("user_password")) {
    auto password = nonEmptyString(params, "user_password");
    if (!password) throw BackendError(code::kPasswordMissing, "password is required");
    setPassword(*credentials, *password);
  }
  store.putCredentials(*credentials);
  linkProviders(store, user.objectId, authDataOf(params, data, knownProviders));
}

Json signUp(OperationContext& context, const Json& params) {
  auto password = nonEmptyString(params, "user_password");
  if (!password) throw BackendError(code::kPasswordMissing, "password is required");
  Json data = dataOf(params);
  return createUser(context.store, data, password, authDataOf(params, data, context.authProviders), std::nullopt);
}

Json signUpOrLogIn(OperationContext& context, const Json& params) {
  Json data = dataOf(params);
  const Json* authData = authDataOf(params, data, context.authProviders);
  auto password = nonEmptyString(params, "user_password");
  if (authData && !authData->empty()) {
    for (const auto& [provider, providerData] : authData->items()) {
      if (providerData.is_null()) continue;
      auto userId = context.store.userForProvider(provider, providerIdOf(provider, providerData));
      auto user = userId ? context.store.find("_User", *userId) : std::nullopt;
      if (user) return logInAnswer(context.store, *user, false);
    }
    return createUser(context.store, data, password, authData, true);
  }
  auto username = nonEmptyString(data, "username");
  if (!username) throw BackendError(code::kUsernameMissing, "bad or missing username");
  if (!password) throw BackendError(code::kPasswordMissing, "password is required");
  if (auto credentials = context.store.credentialsForUsername(*username)) {
    auto user = context.store.find("_User", credentials->userId);
    if (!user || !passwordMatches(*credentials, *password)) {
      throw BackendError(code::kObjectNotFound, "invalid login credentials");
    }
    return logInAnswer(context.store, *user, false);
  }
  return createUser(context.store, data, password, nullptr, true);
}

Json logIn(OperationContext& context, const Json& params) {
  auto username = params.find("username");
  auto password = params.find("user_password");
  if (username == params.end() || !username->is_string()) {
    throw BackendError(code::kUsernameMissing, "bad or missing username");
  }
  if (password == params.end() || !password->is_string()) {
    throw BackendError(code::kPasswordMissing, "password is required");
  }
  auto credentials = context.store.credentialsForUsername(username->get<std::string>());
  if (!credentials || !passwordMatches(*credentials, password->get<std::string>())) return nullptr;
  auto user = context.store.find("_User", credentials->userId);
  if (!user) return nullptr;
  return logInAnswer(context.store, *user, std::nullopt);
}

Json currentUser(OperationContext& context, const Json&) {
  if (!context.sessionToken) return nullptr;
  auto userId = context.store.userForSession(*context.sessionToken);
  auto user = userId ? context.store.find("_User", *userId) : std::nullopt;
  if (!user) return nullptr;
  return sessionAnswer(context.store, user->objectId, objectData(*user), *context.sessionToken, std::nullopt);
}

Json logOut(OperationContext& context, const Json&) {
  if (!context.sessionToken) throw BackendError(code::kSessionMissing, "log-out needs the session to end");
  context.store.removeSession(*context.sessionToken);
  return Json::object();
}

Json requestPasswordReset(OperationContext& context, const Json& params) {
  auto email = nonEmptyString(params, "email");
  if (!email) throw BackendError(code::kEmailMissing, "you must provide an email");
  if (!userByEmail(context.store, *email)) {
    throw BackendError(code::kEmailNotFound, "no user found with email " + *email);
  }
  context.store.recordPasswordReset(*email);
  return Json::object();
}

}  // namespace devserver::backend
