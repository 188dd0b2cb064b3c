// Data objects: operation sets, the estimate, merging server answers and
// watching containers that can change in place.

#include <unordered_set>

#include "backend/internal/internal_utils.hpp"
#include "backend/object.hpp"
#include "platform/exceptions.hpp"

namespace backend {

namespace {

// A timestamp of an answer: a decoded date, or text in the given format.
std::optional<platform::Date> timestampOf(const Value& value, bool precise) {
  if (const platform::Date* date = value.date()) return *date;
  if (const std::string* text = value.string()) {
    return precise ? InternalUtils::preciseDateFromString(*text) : InternalUtils::impreciseDateFromString(*text);
  }
  return std::nullopt;
}

}  // namespace

OperationSet Object::unsavedChanges() const {
  Lock lock(mutex_);
  return operationSetQueue_.back();
}

void Object::startSave() {
  Lock lock(mutex_);
  operationSetQueue_.emplace_back();
}

std::size_t Object::operationSetCount() const {
  Lock lock(mutex_);
  return operationSetQueue_.size();
}

void Object::setHasBeenFetched(bool fetched) {
  Lock lock(mutex_);
  hasBeenFetched_ = fetched;
}

FieldMap Object::estimatedDataSnapshot() const {
  Lock lock(mutex_);
  return estimatedData_;
}

FieldMap Object::serverDataSnapshot() const {
  Lock lock(mutex_);
  return serverData_;
}

void Object::applyOperations(const OperationSet& operations, FieldMap& fields, const std::shared_ptr<Object>& object) {
  for (const auto& [key, operation] : operations) {
    auto found = fields.find(key);
    Value next = operation->applyToValue(found == fields.end() ? Value() : found->second, key, object);
    if (next.isNil()) {
      if (found != fields.end()) fields.erase(found);
    } else if (found != fields.end()) {
      found->second = std::move(next);
    } else {
      fields.emplace(key, std::move(next));
    }
  }
}

void Object::rebuildEstimatedData() {
  Lock lock(mutex_);
  const ObjectPtr self = selfPtr();
  estimatedData_ = serverData_;
  for (const auto& operations : operationSetQueue_) applyOperations(operations, estimatedData_, self);
  // Operations build new containers; give each a snapshot so later checks
  // compare against the value as rebuilt.
  for (const auto& [key, value] : estimatedData_) {
    if (const void* identity = identityOf(value); identity && !hashedObjectsCache_.contains(identity))
      checkpointLocked(value);
  }
}

void Object::mergeAfterSave(const Value& result) {
  Lock lock(mutex_);
  OperationSet sent = std::move(operationSetQueue_.front());
  operationSetQueue_.erase(operationSetQueue_.begin());
  if (operationSetQueue_.empty()) operationSetQueue_.emplace_back();

  if (result.isNil()) {
    // The save failed: its operations go back under the edits made since.
    auto& oldest = operationSetQueue_.front();
    for (auto& [key, operation] : sent) {
      auto later = oldest.find(key);
      if (later == oldest.end()) {
        oldest.emplace(key, operation);
      } else {
        later->second = later->second->mergeWithPrevious(operation);
      }
    }
    return;
  }
  checkForChangesToMutableContainers();
  applyOperations(sent, serverData_, selfPtr());
  mergeFromServer(result, Completeness::Partial);
  rebuildEstimatedData();
  checkpointAllMutableContainers();
}

void Object::mergeAfterFetch(const Value& result, Completeness completeness) {
  Lock lock(mutex_);
  checkForChangesToMutableContainers();
  mergeFromServer(result, completeness);
  removeOldKeysAfterFetch(result);
  rebuildEstimatedData();
  checkpointAllMutableContainers();
}

void Object::mergeFromServer(const Value& result, Completeness completeness) {
  Lock lock(mutex_);
  if (completeness == Completeness::Complete) hasBeenFetched_ = true;

  // Values of the answer are held in locals: operator[] answers copies.
  if (const Value id = result["id"]; id.isString()) setObjectIdLocked(*id.string());
  if (Value updated = result["updated_at"]; !updated.isNil()) updatedAt_ = timestampOf(updated, false);
  if (Value created = result["created_at"]; !created.isNil()) createdAt_ = timestampOf(created, false);

  const Value pointersValue = result["pointers"];
  if (const platform::Dictionary* pointers = pointersValue.dictionary()) {
    for (const auto& [field, target] : *pointers) {
      const Value className = target[std::size_t{0}], objectId = target[std::size_t{1}];
      // An entry that is not [class name, object id] is skipped.
      if (!target.isArray() || target.array()->size() != 2 || !className.isString() || !objectId.isString()) continue;
      serverData_.insert_or_assign(field, Value(objectWithoutData(*className.string(), *objectId.string())));
      dataAvailability_.insert_or_assign(field, true);
    }
  }

  const Value dataValue = result["data"];
  if (const platform::Dictionary* data = dataValue.dictionary()) {
    const auto fromDictionary = accessListHooks().fromDictionary;
    for (const auto& [key, value] : *data) {
      if (key == "objectId") {
        if (const std::string* id = value.string()) setObjectIdLocked(*id);
      } else if (key == "createdAt") {
        createdAt_ = timestampOf(value, true);
      } else if (key == "updatedAt") {
        updatedAt_ = timestampOf(value, true);
      } else if (key == "ACL" && fromDictionary && value.isDictionary()) {
        Value acl(fromDictionary(value));
        serverData_.insert_or_assign(key, acl);
        checkpointLocked(acl);
      } else {
        serverData_.insert_or_assign(key, value);
        dataAvailability_.insert_or_assign(key, true);
      }
    }
  }

  if (!updatedAt_ && createdAt_) updatedAt_ = createdAt_;
  dirty_ = false;
}

void Object::removeOldKeysAfterFetch(const Value& result) {
  Lock lock(mutex_);
  const Value dataValue = result["data"];
  const platform::Dictionary* data = dataValue.dictionary();
  for (auto it = serverData_.begin(); it != serverData_.end();) {
    if (data && data->contains(it->first)) {
      ++it;
      continue;
    }
    dataAvailability_.erase(it->first);
    it = serverData_.erase(it);
  }
}

void Object::mergeFromObject(const Object& other) {
  if (&other == this) return;
  // Read the other object first, so the two locks are never held together.
  const auto otherId = other.objectId();
  const auto otherCreated = other.createdAt();
  const auto otherUpdated = other.updatedAt();
  FieldMap otherServerData = other.serverDataSnapshot();

  Lock lock(mutex_);
  if (operationSetQueue_.size() != 1)
    throw platform::InternalInconsistencyException("Attempt to mergeFromObject during a save.");
  {
    std::lock_guard identity(identityMutex_);
    objectId_ = otherId;
  }
  createdAt_ = otherCreated;
  updatedAt_ = otherUpdated;
  serverData_ = std::move(otherServerData);
  for (const auto& [key, value] : serverData_) checkpointLocked(value);
  operationSetQueue_.assign(1, OperationSet{});
  dirty_ = false;
  rebuildEstimatedData();
}

// ---- Containers ----------------------------------------------------------------

const void* Object::identityOf(const Value& value) {
  if (auto* handle = value.arrayHandle()) return handle->get();
  if (auto* handle = value.dictionaryHandle()) return handle->get();
  if (auto* handle = value.objectHandle()) return handle->get();
  return nullptr;
}

void Object::checkpointLocked(const Value& value) {
  if (!InternalUtils::isContainerClass(value)) return;
  hashedObjectsCache_.insert_or_assign(identityOf(value), Snapshot{value, JSONCacheItem::cacheFromObject(value)});
}

void Object::checkpointMutableContainer(const Value& value) {
  Lock lock(mutex_);
  checkpointLocked(value);
}

void Object::checkpointAllMutableContainers() {
  Lock lock(mutex_);
  for (const auto& [key, value] : estimatedData_) checkpointLocked(value);
}

void Object::checkForChangesToMutableContainer(const Value& value, std::string_view key) {
  Lock lock(mutex_);
  const void* identity = identityOf(value);
  if (!InternalUtils::isContainerClass(value)) {
    if (identity) hashedObjectsCache_.erase(identity);
    return;
  }
  auto snapshot = hashedObjectsCache_.find(identity);
  if (snapshot == hashedObjectsCache_.end())
    throw platform::InternalInconsistencyException("BEObject contains container item that isn't cached.");
  if (!JSONCacheItem::cacheFromObject(value).isEqualTo(snapshot->second.item)) setObject(value, key);
}

void Object::checkForChangesToMutableContainers() {
  Lock lock(mutex_);
  const FieldMap current = estimatedData_;
  for (const auto& [key, value] : current) checkForChangesToMutableContainer(value, key);
  std::unordered_set<const void*> held;
  for (const auto& [key, value] : estimatedData_) {
    if (const void* identity = identityOf(value)) held.insert(identity);
  }
  std::erase_if(hashedObjectsCache_, [&](const auto& entry) { return !held.contains(entry.first); });
}

}  // namespace backend
