#include "operations.hpp"

#include "backend_error.hpp"
#include "field_operations.hpp"
#include "query_engine.hpp"

#include <devserver/limited_json.hpp>

#include <regex>

namespace devserver::backend {
namespace {

constexpr std::size_t kMaxObjectBytes = 128 * 1024;

bool isReservedClass(const std::string& name) {
  return name == "_User" || name == "_Role" || name == "_Installation" || name == "_Product";
}

// Keys of a save's data that are not fields, or that the user operations
// read themselves.
bool isFixedKey(const std::string& className, const std::string& key) {
  if (key == "objectId" || key == "createdAt" || key == "updatedAt") return true;
  return className == "_User" && (key == "session_token" || key == "auth_data" || key == "password");
}

std::string objectIdOf(const Json& data) {
  auto it = data.find("objectId");
  if (it == data.end() || !it->is_string() || it->get_ref<const std::string&>().empty()) {
    throw BackendError(code::kMissingObjectId, "missing objectId");
  }
  return it->get<std::string>();
}

void refuseClientWrites(const std::string& className) {
  if (className == "_Product") throw BackendError(code::kOperationForbidden, "_Product is read-only for clients");
}

void checkRoleName(ObjectStore& store, const StoredObject& role) {
  auto name = role.fields.find("name");
  static const std::regex kValidName("^[0-9a-zA-Z_\\- ]+$");
  if (name == role.fields.end() || !name->is_string() || name->get_ref<const std::string&>().size() > 256 ||
      !std::regex_match(name->get_ref<const std::string&>(), kValidName)) {
    throw BackendError(code::kInvalidRoleName,
                       "a role's name can only contain alphanumeric characters, _, -, and spaces");
  }
  for (const auto& other : store.withText("_Role", "name", name->get<std::string>())) {
    if (other.objectId != role.objectId) {
      throw BackendError(code::kDuplicateValue, "a role named \"" + name->get<std::string>() + "\" already exists");
    }
  }
}

void checkChannels(const StoredObject& installation) {
  auto channels = installation.fields.find("channels");
  if (channels == installation.fields.end() || channels->is_null()) return;
  static const std::regex kValidChannel("^([A-Za-z][A-Za-z0-9_-]*)?$");
  if (!channels->is_array()) throw BackendError(code::kIncorrectType, "\"channels\" must be a list of names");
  for (const auto& channel : *channels) {
    if (!channel.is_string() || channel.get_ref<const std::string&>().size() > 128 ||
        !std::regex_match(channel.get_ref<const std::string&>(), kValidChannel)) {
      throw BackendError(code::kInvalidChannelName,
                         "invalid channel name: " + channel.dump(-1, ' ', false, Json::error_handler_t::replace));
    }
  }
}

// The extra rules of the reserved classes.
void checkClassRules(ObjectStore& store, const StoredObject& object) {
  if (object.className == "_Role") checkRoleName(store, object);
  if (object.className == "_Installation") checkChannels(object);
}

std::optional<StoredObject> existingInstallation(ObjectStore& store, const Json& data) {
  auto id = data.find("installationId");
  if (id == data.end() || !id->is_string() || id->get_ref<const std::string&>().empty()) {
    throw BackendError(code::kMissingInstallationId, "an installation needs an \"installationId\"");
  }
  auto found = store.withText("_Installation", "installationId", id->get<std::string>());
  if (found.empty()) return std::nullopt;
  return std::move(found.front());
}

StoredObject writableObject(OperationContext& context, const std::string& className, const std::string& objectId,
                            const char* action) {
  auto object = context.store.find(className, objectId);
  if (!object || !canWrite(*object, context.caller)) {
    throw BackendError(code::kObjectNotFound, std::string("object not found for ") + action);
  }
  if (className == "_User" && context.caller.userId != objectId) {
    throw BackendError(code::kSessionMissing, "a user can only be changed with its own session");
  }
  return *object;
}

Json saveExisting(OperationContext& context, StoredObject object, const Json& params, const Json& data) {
  Json previousName = object.fields.value("name", Json());
  ObjectStore::Transaction transaction(context.store);
  Json changed = applyChanges(context.store, object, data);
  if (object.className == "_User") applyAccountChanges(context.store, object, params, data, context.authProviders);
  if (object.className == "_Role" && !previousName.is_null() && object.fields.value("name", Json()) != previousName) {
    throw BackendError(code::kInvalidRoleName, "a role's name can only be set before it has been saved");
  }
  checkClassRules(context.store, object);
  checkObjectSize(object);
  object.updatedAt = std::max(nowMillis(), object.updatedAt);
  context.store.put(object);
  transaction.commit();
  return saveResult(object, changed);
}

}  // namespace

std::string classNameOf(const Json& params) {
  auto it = params.find("classname");
  if (it == params.end()) it = params.find("className");
  if (it == params.end() || !it->is_string()) throw BackendError(code::kInvalidClassName, "missing \"classname\"");
  const std::string& name = it->get_ref<const std::string&>();
  if (!isValidKeyName(name) && !isReservedClass(name)) {
    throw BackendError(code::kInvalidClassName, "invalid class name: " + name);
  }
  return name;
}

Json dataOf(const Json& params) {
  auto it = params.find("data");
  if (it == params.end() || it->is_null()) return Json::object();
  if (it->is_string()) {
    auto parsed = parseJsonLimited(it->get_ref<const std::string&>());
    if (!parsed) throw BackendError(code::kInvalidJson, "\"data\" is not valid JSON (or nested too deeply)");
    if (parsed->is_object()) return *parsed;
  }
  if (!it->is_object()) throw BackendError(code::kInvalidJson, "\"data\" must be an object");
  return *it;
}

Json applyChanges(ObjectStore& store, StoredObject& object, const Json& data) {
  Json changed = Json::object();
  for (const auto& [key, change] : data.items()) {
    if (isFixedKey(object.className, key)) continue;
    auto value = applyFieldChange(store, object, key, change);
    if (value) changed[key] = *value;
    else changed.erase(key);
  }
  return changed;
}

void checkObjectSize(const StoredObject& object) {
  if (object.fields.dump().size() > kMaxObjectBytes) {
    throw BackendError(code::kObjectTooLarge, "object is larger than " + std::to_string(kMaxObjectBytes) + " bytes");
  }
}

Json saveResult(const StoredObject& object, const Json& changed) {
  Json data = changed;
  data["objectId"] = object.objectId;
  data["createdAt"] = formatTimestamp(object.createdAt);
  data["updatedAt"] = formatTimestamp(object.updatedAt);
  return Json{{"data", std::move(data)}};
}

std::string newObjectId(ObjectStore& store, const std::string& className) {
  while (true) {
    std::string id = randomAlphanumeric(10);
    if (!store.find(className, id)) return id;
  }
}

Json createObject(OperationContext& context, const Json& params) {
  std::string className = classNameOf(params);
  refuseClientWrites(className);
  if (className == "_User") throw BackendError(code::kOperationForbidden, "users are created with user_signup");
  Json data = dataOf(params);
  if (className == "_Installation") {
    // One record per installation id: a second create updates the first.
    if (auto existing = existingInstallation(context.store, data)) {
      if (!canWrite(*existing, context.caller)) throw BackendError(code::kObjectNotFound, "object not found for update");
      return saveExisting(context, *existing, params, data);
    }
  }
  StoredObject object;
  object.className = className;
  object.objectId = newObjectId(context.store, className);
  object.createdAt = object.updatedAt = nowMillis();
  ObjectStore::Transaction transaction(context.store);
  Json changed = applyChanges(context.store, object, data);
  checkClassRules(context.store, object);
  checkObjectSize(object);
  context.store.put(object);
  transaction.commit();
  return saveResult(object, changed);
}

Json updateObject(OperationContext& context, const Json& params) {
  std::string className = classNameOf(params);
  refuseClientWrites(className);
  Json data = dataOf(params);
  return saveExisting(context, writableObject(context, className, objectIdOf(data), "update"), params, data);
}

Json deleteObject(OperationContext& context, const Json& params) {
  std::string className = classNameOf(params);
  refuseClientWrites(className);
  StoredObject object = writableObject(context, className, objectIdOf(dataOf(params)), "delete");
  ObjectStore::Transaction transaction(context.store);
  context.store.erase(object.className, object.objectId);
  transaction.commit();
  return Json::object();
}

Json getObject(OperationContext& context, const Json& params) {
  std::string className = classNameOf(params);
  std::string objectId = objectIdOf(dataOf(params));
  auto object = context.store.find(className, objectId);
  if (!object || !canRead(*object, context.caller)) throw BackendError(code::kObjectNotFound, "object not found for get");
  return Json{{"data", objectData(*object)}};
}

Json findObjects(OperationContext& context, const Json& params) {
  QueryEngine engine(context.store, context.caller, context.budget);
  return engine.find(params);
}

}  // namespace devserver::backend
