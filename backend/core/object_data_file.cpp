// The data file: an object's server state kept on disk between runs (the
// current installation, the current user); and the form of a save.

#include <filesystem>
#include <system_error>

#include "backend/internal/internal_utils.hpp"
#include "backend/object.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"

namespace backend {

Value Object::convertToDictionaryForDataFile() {
  platform::Dictionary data;
  {
    Lock lock(mutex_);
    checkForChangesToMutableContainers();
    for (const auto& [key, value] : serverData_) data.append(key, value);
    if (createdAt_) data.set("createdAt", InternalUtils::stringFromPreciseDate(*createdAt_));
    if (updatedAt_) data.set("updatedAt", InternalUtils::stringFromPreciseDate(*updatedAt_));
    if (auto id = objectId()) data.set("objectId", *id);
  }
  const Value form = Value::dictionary({{"classname", className_}, {"data", Value(std::move(data))}});
  return InternalUtils::encodeObject(form, UnsavedChildren::Disallow, DataObjects::Allow);
}

Value Object::convertToDictionaryForSaving(const OperationSet& changes) const {
  platform::Dictionary data;
  for (const auto& [key, operation] : changes) data.append(key, Value(operation));
  if (auto id = objectId()) data.set("objectId", *id);
  return Value::dictionary({{"classname", className_}, {"data", Value(std::move(data))}});
}

void Object::serializeToDataFile(std::string_view name) {
  const std::string json = InternalUtils::serializeToJSON(convertToDictionaryForDataFile());
  const auto path = InternalUtils::dataFilePath(name);
  // Atomic and durable: a crash mid-write must leave the previous file, not
  // half of the new one.
  if (auto error = platform::writeFileAtomically(path, json, 0600))
    platform::log("Unable to write data file " + path.string() + ": " + error.message());
}

ObjectPtr Object::objectFromDataFile(std::string_view name) {
  const auto path = InternalUtils::dataFilePath(name);
  auto text = platform::readFile(path);
  if (!text) return nullptr;
  try {
    const Value form = InternalUtils::decodeObject(InternalUtils::parseJSON(*text));
    const Value className = form["classname"];
    if (!className.isString()) {
      platform::log("Data file " + path.string() + " names no class");
      return nullptr;
    }
    ObjectPtr object = objectWithClassName(*className.string(), Creation::Pointer);
    object->mergeAfterFetch(form, Completeness::Complete);
    return object;
  } catch (const std::exception& error) {
    // A damaged file is as good as none; it must not take the caller down.
    platform::log("Unable to read data file " + path.string() + ": " + error.what());
    return nullptr;
  }
}

void Object::deleteDataFile(std::string_view name) {
  std::error_code ignored;
  std::filesystem::remove(InternalUtils::dataFilePath(name), ignored);
}

}  // namespace backend
