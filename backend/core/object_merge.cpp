// Data objects: operation sets, the estimate, merging server answers and
// watching containers that can change in place.

#include <algorithm>
#include <exception>
#include <unordered_set>

#include "backend/field_operation.hpp"
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
  return operationSetQueue_.back().operations;
}

Object::SaveId Object::startSave() {
  Lock lock(mutex_);
  const SaveId save = operationSetQueue_.back().id;
  operationSetQueue_.push_back(PendingSet{{}, nextSaveId_++, false});
  return save;
}

OperationSet Object::changesToSend(SaveId save) {
  Lock lock(mutex_);
  for (auto& pending : operationSetQueue_) {
    if (pending.id != save) continue;
    pending.sent = true;
    return pending.operations;
  }
  return {};
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
  for (const auto& pending : operationSetQueue_) applyOperations(pending.operations, estimatedData_, self);
  // Operations build new containers; give each a snapshot so later checks
  // compare against the value as rebuilt.
  for (const auto& [key, value] : estimatedData_) {
    if (const void* identity = identityOf(value); identity && !hashedObjectsCache_.contains(identity))
      checkpointLocked(value);
  }
}

void Object::mergeAfterSave(const Value& result) {
  SaveId oldest;
  {
    Lock lock(mutex_);
    oldest = operationSetQueue_.front().id;
  }
  mergeAfterSave(oldest, result);
}

void Object::mergeAfterSave(SaveId save, const Value& result) {
  Lock lock(mutex_);
  auto found = std::find_if(operationSetQueue_.begin(), operationSetQueue_.end(),
                            [save](const PendingSet& pending) { return pending.id == save; });
  if (found == operationSetQueue_.end()) return;
  const auto at = static_cast<std::size_t>(found - operationSetQueue_.begin());
  if (at + 1 == operationSetQueue_.size()) operationSetQueue_.push_back(PendingSet{{}, nextSaveId_++, false});

  if (result.isNil()) {
    // The save failed: its operations go back under the edits made since,
    // into the first set no save has sent yet (the newest one at the latest).
    std::size_t target = at + 1;
    while (operationSetQueue_[target].sent) ++target;
    foldBack(operationSetQueue_[at].operations, at, target);
    operationSetQueue_.erase(operationSetQueue_.begin() + static_cast<std::ptrdiff_t>(at));
    return;
  }
  const OperationSet sent = std::move(operationSetQueue_[at].operations);
  operationSetQueue_.erase(operationSetQueue_.begin() + static_cast<std::ptrdiff_t>(at));
  checkForChangesToMutableContainers();
  applyOperations(sent, serverData_, selfPtr());
  mergeFromServer(result, Completeness::Partial);
  // The check above brought every held container's snapshot up to date and
  // the rebuild snapshots the new ones: taking them all again would only
  // repeat that work, once per container on every save.
  rebuildEstimatedData();
}

void Object::foldBack(const OperationSet& failed, std::size_t failedAt, std::size_t target) {
  OperationSet merged = operationSetQueue_[target].operations;
  for (const auto& [key, operation] : failed) {
    bool sentLater = false;
    for (std::size_t between = failedAt + 1; between < target; ++between)
      sentLater = sentLater || operationSetQueue_[between].operations.contains(key);
    if (!sentLater) {
      auto later = merged.find(key);
      if (later == merged.end()) {
        merged.emplace(key, operation);
        continue;
      }
      try {
        later->second = later->second->mergeWithPrevious(operation);
        continue;
      } catch (const std::exception&) {
        // A pair that does not combine (a remove after a delete) is sent as
        // the value the two lead to.
      }
    }
    // A save already sent changes the field after this one would have: only
    // the value both lead to can be sent after it.
    const Value expected = expectedValueThrough(target, key);
    merged.insert_or_assign(key, expected.isNil() ? FieldOperationPtr(DeleteOperation::create())
                                                  : FieldOperationPtr(SetOperation::create(expected)));
  }
  operationSetQueue_[target].operations = std::move(merged);
}

Value Object::expectedValueThrough(std::size_t last, std::string_view key) {
  auto server = serverData_.find(key);
  Value value = server == serverData_.end() ? Value() : server->second;
  try {
    const ObjectPtr self = selfPtr();
    for (std::size_t index = 0; index <= last; ++index) {
      const auto& operations = operationSetQueue_[index].operations;
      if (auto operation = operations.find(key); operation != operations.end())
        value = operation->second->applyToValue(value, key, self);
    }
  } catch (const std::exception&) {
    // The estimate applied these operations already; it is the best guess.
    auto estimated = estimatedData_.find(key);
    return estimated == estimatedData_.end() ? Value() : estimated->second;
  }
  return value;
}

void Object::mergeAfterFetch(const Value& result, Completeness completeness) {
  Lock lock(mutex_);
  checkForChangesToMutableContainers();
  mergeFromServer(result, completeness);
  removeOldKeysAfterFetch(result);
  // Snapshots are current after the check and the rebuild (see mergeAfterSave).
  rebuildEstimatedData();
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
  operationSetQueue_.assign(1, PendingSet{{}, nextSaveId_++, false});
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
  hashedObjectsCache_.insert_or_assign(identityOf(value), snapshotOf(value, JSONCacheItem::cacheFromObject(value)));
}

namespace {

// Data objects are written into a snapshot by address; holding them keeps
// that address from being reused by a new object while the snapshot lives.
void collectDataObjects(const Value& value, std::vector<Value>& objects) {
  if (const platform::Array* array = value.array()) {
    for (const Value& item : *array) collectDataObjects(item, objects);
  } else if (const platform::Dictionary* dictionary = value.dictionary()) {
    for (const auto& [key, item] : *dictionary) collectDataObjects(item, objects);
  } else if (value.object<Object>()) {
    objects.push_back(value);
  }
}

}  // namespace

Object::Snapshot Object::snapshotOf(const Value& container, JSONCacheItem item) {
  Snapshot snapshot{container, {}, std::move(item)};
  collectDataObjects(container, snapshot.namedObjects);
  return snapshot;
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
