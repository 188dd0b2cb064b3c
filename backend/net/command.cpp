#include "backend/net/command.hpp"

#include <mutex>

#include "backend/field_operation.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/internal/local_id_manager.hpp"
#include "platform/exceptions.hpp"

namespace backend::net {
namespace {

std::mutex hooksMutex;
LocalIdDiskReferenceHooks installedHooks;

LocalIdDiskReferenceHooks hooks() {
  std::lock_guard lock(hooksMutex);
  return installedHooks;
}

const platform::Array* operationObjects(const platform::Value& value) {
  if (auto add = value.object<AddOperation>()) return &add->objects();
  if (auto unique = value.object<AddUniqueOperation>()) return &unique->objects();
  if (auto remove = value.object<RemoveOperation>()) return &remove->objects();
  return nullptr;
}

// params["data"] as a dictionary value; JSON text is decoded.
platform::Value decodedData(const platform::Dictionary& params) {
  auto data = params.get("data");
  if (auto* text = data.string()) return InternalUtils::decodeObject(InternalUtils::parseJSON(*text));
  if (data.isDictionary()) return data;
  return platform::Value();
}

}  // namespace

void installLocalIdDiskReferenceHooks(LocalIdDiskReferenceHooks newHooks) {
  std::lock_guard lock(hooksMutex);
  installedHooks = std::move(newHooks);
}

Command::Command(std::string operation, const platform::Value& params, std::optional<std::string> sessionToken)
    : operation_(std::move(operation)) {
  platform::Dictionary copy;
  if (auto* dictionary = params.dictionary()) copy = *dictionary;
  copy.set("uuid", InternalUtils::createUUID());
  if (sessionToken && !copy.contains("session_token")) copy.set("session_token", *sessionToken);
  params_ = platform::Value(std::move(copy));
}

CommandPtr Command::commandWithServerOperation(std::string operation, const platform::Value& params,
                                               std::optional<std::string> sessionToken) {
  return std::make_shared<Command>(std::move(operation), params, std::move(sessionToken));
}

CommandPtr Command::commandFromJSON(std::string_view json) {
  auto stored = InternalUtils::decodeObject(InternalUtils::parseJSON(json));
  auto operation = stored["operation"];
  auto params = stored["params"];
  if (!operation.isString() || !(params.isDictionary() || params.isNil())) return nullptr;
  auto command = commandWithServerOperation(operation.asString(), params, std::nullopt);
  auto localId = stored["localId"];
  if (localId.isString()) command->setLocalId(localId.asString());
  return command;
}

std::string Command::json() const {
  platform::Dictionary stored;
  stored.set("operation", operation_);
  stored.set("params", params_);
  if (localId_) stored.set("localId", *localId_);
  auto encoded = InternalUtils::encodeObject(platform::Value(std::move(stored)), UnsavedChildren::Allow,
                                             DataObjects::Allow);
  return InternalUtils::serializeToJSON(encoded);
}

const std::string& Command::cacheKey() {
  if (cacheKey_) return *cacheKey_;
  platform::Dictionary copy = params();
  copy.remove("uuid");
  std::string canonical;
  try {
    canonical = InternalUtils::cacheKeyForObject(platform::Value(std::move(copy)));
  } catch (const platform::InvalidArgumentException&) {
    throw platform::InvalidArgumentException("Generated cache key for BECommand must not be nil.");
  }
  cacheKey_ = "BECommand.2." + operation_ + "." + std::to_string(kAPIVersion) + "." +
              InternalUtils::calculateMD5(canonical);
  return *cacheKey_;
}

std::string Command::description() const {
  return "<Command>{ operation=" + operation_ + " params=" + params_.description() + " }";
}

bool Command::forEachLocalIdIn(const platform::Value& value, const std::function<bool(const ObjectPtr&)>& block) {
  if (auto object = value.object<Object>()) return object->objectId() ? false : block(object);
  bool any = false;
  if (auto* dictionary = value.dictionary()) {
    for (const auto& [key, member] : *dictionary) any = forEachLocalIdIn(member, block) || any;
  } else if (auto* array = value.array()) {
    for (const auto& member : *array) any = forEachLocalIdIn(member, block) || any;
  } else if (auto* objects = operationObjects(value)) {
    for (const auto& member : *objects) any = forEachLocalIdIn(member, block) || any;
  }
  return any;
}

void Command::forEachLocalId(const std::function<bool(const ObjectPtr&)>& block) {
  auto data = decodedData(params());
  if (data.isNil()) return;
  if (forEachLocalIdIn(data, block)) params().set("data", data);
}

void Command::retainLocalIds() {
  auto retain = hooks().retain;
  if (!retain) return;
  if (localId_) retain(*localId_);
  forEachLocalId([&](const ObjectPtr& object) {
    retain(object->getOrCreateLocalId());
    return false;
  });
}

void Command::releaseLocalIds() {
  auto release = hooks().release;
  if (!release) return;
  if (localId_) release(*localId_);
  forEachLocalId([&](const ObjectPtr& object) {
    release(object->getOrCreateLocalId());
    return false;
  });
}

void Command::resolveLocalIds() {
  forEachLocalId([](const ObjectPtr& object) {
    object->resolveLocalId();
    return true;
  });
  maybeChangeServerOperation();
}

void Command::maybeChangeServerOperation() {
  if (!localId_) return;
  auto objectId = requireLocalIdManager()->objectIdForLocalId(*localId_);
  if (objectId) {
    localId_.reset();
    auto data = decodedData(params());
    if (data.isDictionary()) {
      platform::Dictionary copy = *data.dictionary();
      copy.set("objectId", *objectId);
      params().set("data", platform::Value(std::move(copy)));
    }
    if (operation_ == "create") operation_ = "update";
  } else if (operation_ == "delete") {
    throw platform::InternalInconsistencyException("Attempt to delete non-existent object.");
  }
}

MultiCommand::MultiCommand(const std::vector<CommandPtr>& commands, std::optional<std::string> sessionToken)
    : Command("multi", platform::Value(), std::move(sessionToken)) {
  platform::Array list;
  for (const auto& command : commands) {
    list.push_back(platform::Value::dictionary({{"op", command->serverOperation()}, {"params", command->paramsValue()}}));
  }
  params().set("commands", platform::Value(std::move(list)));
}

std::shared_ptr<MultiCommand> MultiCommand::multiCommandWithCommands(const std::vector<CommandPtr>& commands,
                                                                     std::optional<std::string> sessionToken) {
  return std::make_shared<MultiCommand>(commands, std::move(sessionToken));
}

}  // namespace backend::net
