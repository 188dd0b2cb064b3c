#include "backend/net/object_commands.hpp"

#include "backend/internal/internal_utils.hpp"

namespace backend::net {

CommandPtr constructSaveCommand(const Object& object, const OperationSet& changes,
                                const std::optional<std::string>& sessionToken) {
  const Value params = InternalUtils::encodeObject(object.convertToDictionaryForSaving(changes),
                                                   UnsavedChildren::Disallow, DataObjects::Allow);
  return Command::commandWithServerOperation(object.objectId() ? "update" : "create", params, sessionToken);
}

CommandPtr constructRefreshCommand(const Object& object, const std::optional<std::string>& sessionToken) {
  return Command::commandWithServerOperation(
      "get",
      Value::dictionary({{"classname", object.backendClassName()},
                         {"data", Value::dictionary({{"objectId", object.objectId().value_or("")}})}}),
      sessionToken);
}

CommandPtr constructDeleteCommand(const Object& object, bool skipWhenUnsaved,
                                  const std::optional<std::string>& sessionToken) {
  const auto objectId = object.objectId();
  if (!objectId && skipWhenUnsaved) return nullptr;
  platform::Dictionary data;
  if (objectId) data.set("objectId", *objectId);
  return Command::commandWithServerOperation(
      "delete", Value::dictionary({{"classname", object.backendClassName()}, {"data", Value(std::move(data))}}),
      sessionToken);
}

}  // namespace backend::net
