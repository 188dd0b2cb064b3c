#pragma once

#include "access_control.hpp"
#include "command_budget.hpp"
#include "object_store.hpp"

#include <optional>
#include <set>
#include <string>

namespace devserver {
class PushGateway;
}

namespace devserver::backend {

class FileStorage;

// What one command runs against. `caller` is resolved from the command's
// "session_token" before the operation runs (except for "client_me", which
// answers null for an unknown token).
struct OperationContext {
  ObjectStore& store;
  Caller caller;
  std::optional<std::string> sessionToken;
  PushGateway& push;
  FileStorage& files;
  std::string filesBaseUrl;  // where uploaded files are posted and served
  CommandBudget& budget;     // the work the request may still do
  const std::set<std::string>& authProviders;  // provider names sign-up and log-in accept
};

// Each operation takes the command's parameters and returns its "result";
// failures throw BackendError.
Json createObject(OperationContext& context, const Json& params);
Json updateObject(OperationContext& context, const Json& params);
Json deleteObject(OperationContext& context, const Json& params);
Json getObject(OperationContext& context, const Json& params);
Json findObjects(OperationContext& context, const Json& params);

Json signUp(OperationContext& context, const Json& params);
Json signUpOrLogIn(OperationContext& context, const Json& params);
Json logIn(OperationContext& context, const Json& params);
Json requestPasswordReset(OperationContext& context, const Json& params);
Json currentUser(OperationContext& context, const Json& params);
// Ends the caller's session: its token is refused from then on.
Json logOut(OperationContext& context, const Json& params);

Json clientPush(OperationContext& context, const Json& params);
Json uploadFile(OperationContext& context, const Json& params);

// Helpers shared by the object and user operations.

// The class named by "classname"; code 103 when missing or invalid.
std::string classNameOf(const Json& params);
// The "data" parameter as an object (JSON text is accepted); empty when
// missing; code 107 for anything else.
Json dataOf(const Json& params);
// Applies every entry of `data` except the fixed keys to `object` and
// returns the changed fields' server values (deleted fields left out).
Json applyChanges(ObjectStore& store, StoredObject& object, const Json& data);
// Code 116 when the object's stored form is larger than the service keeps.
void checkObjectSize(const StoredObject& object);
// {"data": changed fields plus "objectId", "createdAt", "updatedAt"}.
Json saveResult(const StoredObject& object, const Json& changed);
// The account side of saving a user: a changed "username" or "email" must
// stay unique (202, 203), "user_password" sets a new password, "auth_data"
// links and unlinks providers (only `knownProviders`; 252 for another).
void applyAccountChanges(ObjectStore& store, StoredObject& user, const Json& params, const Json& data,
                         const std::set<std::string>& knownProviders);
// A new, unused object id for the class.
std::string newObjectId(ObjectStore& store, const std::string& className);

}  // namespace devserver::backend
