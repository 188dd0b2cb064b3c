// Data objects: creation, reading and changing fields, pending operations.

#include "backend/object.hpp"

#include "backend/internal/internal_utils.hpp"
#include "backend/internal/local_id_manager.hpp"
#include "backend/object_subclass.hpp"
#include "platform/exceptions.hpp"

namespace backend {

using platform::InternalInconsistencyException;
using platform::InvalidArgumentException;

Object::Object() { operationSetQueue_.push_back(PendingSet{{}, nextSaveId_++, false}); }

Object::~Object() = default;

// ---- Creating ----------------------------------------------------------------

void Object::initialise(std::string className, Creation creation) {
  className_ = std::move(className);
  dirty_ = creation == Creation::Local;
  hasBeenFetched_ = creation == Creation::Local;
}

ObjectPtr Object::instantiate(std::string_view className) {
  if (auto entry = SubclassRegistry::shared().entryFor(className)) {
    entry->validateClassName(className);
    return entry->create();
  }
  validateClassName(className);
  return std::make_shared<Object>();
}

void Object::validateClassName(std::string_view className) {
  if (!className.empty() && className.front() == '_')
    throw InvalidArgumentException("Invalid class name. Class names cannot start with an underscore.");
}

ObjectPtr Object::objectWithClassName(std::string_view className, Creation creation) {
  ObjectPtr object = instantiate(className);
  object->initialise(std::string(className), creation);
  if (creation == Creation::Local) {
    object->setDefaultValues();
  } else if (!object->lastOperationSet().empty()) {
    const Object& created = *object;
    throw InternalInconsistencyException("The init method of " + demangledTypeName(typeid(created)) +
                                         " set values on the object, which is not allowed.");
  }
  return object;
}

ObjectPtr Object::objectWithClassName(std::string_view className) {
  return objectWithClassName(className, Creation::Local);
}

ObjectPtr Object::objectWithClassName(std::string_view className, const platform::Dictionary& fields) {
  ObjectPtr object = objectWithClassName(className, Creation::Local);
  for (const auto& [key, value] : fields) object->setObject(value, key);
  return object;
}

ObjectPtr Object::objectWithoutData(std::string_view className, std::string_view objectId) {
  ObjectPtr object = objectWithClassName(className, Creation::Pointer);
  std::lock_guard identity(object->identityMutex_);
  object->objectId_ = std::string(objectId);
  return object;
}

ObjectPtr Object::objectWithoutDataWithLocalId(std::string_view className, std::string_view localId) {
  ObjectPtr object = objectWithClassName(className, Creation::Pointer);
  std::lock_guard identity(object->identityMutex_);
  object->localId_ = std::string(localId);
  return object;
}

void Object::setDefaultValues() {
  if (!needsDefaultACL()) return;
  auto hooks = accessListHooks();
  if (!hooks.defaultList) return;
  if (auto acl = hooks.defaultList()) setObject(Value(acl), "ACL");
}

ObjectPtr Object::selfPtr() { return std::static_pointer_cast<Object>(weak_from_this().lock()); }

// ---- Reading -----------------------------------------------------------------

Value Object::objectForKey(std::string_view key) {
  willReadKey(key);
  Lock lock(mutex_);
  if (!isDataAvailableForKey(key)) {
    throw InternalInconsistencyException("Key \"" + std::string(key) +
                                         "\" has no data.  Call fetchIfNeeded before getting its value.");
  }
  auto it = estimatedData_.find(key);
  if (it == estimatedData_.end()) return Value();
  Value value = it->second;
  if (key == "ACL") {
    // The shared default list is never changed through an object: hand out
    // a private copy, recorded as a change.
    if (auto acl = value.object<AccessListBase>(); acl && acl->isShared()) {
      Value copy(acl->createUnsharedCopy());
      setObject(copy, key);
      return copy;
    }
  }
  if (auto relation = value.object<RelationBase>()) relation->ensureParentIs(selfPtr(), key);
  return value;
}

std::vector<std::string> Object::allKeys() const {
  Lock lock(mutex_);
  std::vector<std::string> keys;
  keys.reserve(estimatedData_.size());
  for (const auto& entry : estimatedData_) keys.push_back(entry.first);
  return keys;
}

std::shared_ptr<RelationBase> Object::relationForKey(std::string_view key) {
  auto factory = relationFactory();
  if (!factory) throw InternalInconsistencyException("No relation type is installed.");
  Lock lock(mutex_);
  auto relation = factory(selfPtr(), std::string(key));
  if (auto it = estimatedData_.find(key); it != estimatedData_.end()) {
    if (auto existing = it->second.object<RelationBase>()) relation->setTargetClass(existing->targetClass());
  }
  return relation;
}

bool Object::isDataAvailable() const {
  Lock lock(mutex_);
  return hasBeenFetched_;
}

bool Object::isDataAvailableForKey(std::string_view key) const {
  Lock lock(mutex_);
  if (hasBeenFetched_) return true;
  auto it = dataAvailability_.find(key);
  return it != dataAvailability_.end() && it->second;
}

bool Object::isDirty(Children children) {
  std::unordered_set<const Object*> visited;
  return isDirtyVisiting(children, visited);
}

bool Object::isDirtyVisiting(Children children, std::unordered_set<const Object*>& visited) {
  visited.insert(this);
  std::vector<ObjectPtr> held;
  {
    Lock lock(mutex_);
    checkForChangesToMutableContainers();
    if (dirty_ || !lastOperationSet().empty()) return true;
    if (children == Children::Ignore) return false;
    for (const auto& [key, value] : estimatedData_) {
      if (auto object = value.object<Object>()) held.push_back(std::move(object));
    }
  }
  // Children are asked without this object's lock (no nested object locks),
  // and each object once, so a cycle of clean objects ends.
  for (const auto& object : held) {
    if (!visited.contains(object.get()) && object->isDirtyVisiting(Children::Consider, visited)) return true;
  }
  return false;
}

bool Object::isDirtyForKey(std::string_view key) {
  Lock lock(mutex_);
  if (auto it = estimatedData_.find(key); it != estimatedData_.end()) {
    Value value = it->second;
    checkForChangesToMutableContainer(value, key);
  }
  return lastOperationSet().contains(key);
}

std::optional<std::string> Object::objectId() const {
  std::lock_guard identity(identityMutex_);
  return objectId_;
}

std::optional<std::string> Object::localId() const {
  std::lock_guard identity(identityMutex_);
  return localId_;
}

std::optional<platform::Date> Object::createdAt() const {
  Lock lock(mutex_);
  return createdAt_;
}

std::optional<platform::Date> Object::updatedAt() const {
  Lock lock(mutex_);
  return updatedAt_;
}

std::shared_ptr<AccessListBase> Object::ACL() { return objectForKey("ACL").object<AccessListBase>(); }

// ---- Changing ----------------------------------------------------------------

namespace {

[[noreturn]] void raiseNil() {
  throw InvalidArgumentException("Can't use nil for keys or values on BEObject. Use NSNull for values.");
}

void requireMembers(const platform::Array& objects) {
  for (const Value& object : objects) {
    if (object.isNil()) raiseNil();
  }
}

}  // namespace

void Object::setObject(const Value& value, std::string_view key) {
  if (value.isNil()) raiseNil();
  checkSetObject(value, key);
  Lock lock(mutex_);
  if (auto operation = value.object<FieldOperation>()) {
    performOperation(operation, key);
    return;
  }
  InternalUtils::assertValidClassForValue(value);
  performOperation(SetOperation::create(value), key);
}

void Object::removeObjectForKey(std::string_view key) {
  checkRemoveObject(key);
  Lock lock(mutex_);
  if (!objectForKey(key).isNil()) performOperation(DeleteOperation::create(), key);
}

void Object::addObject(const Value& object, std::string_view key) { addObjectsFromArray({object}, key); }

void Object::addObjectsFromArray(const platform::Array& objects, std::string_view key) {
  requireMembers(objects);
  performOperation(AddOperation::create(objects), key);
}

void Object::addUniqueObject(const Value& object, std::string_view key) { addUniqueObjectsFromArray({object}, key); }

void Object::addUniqueObjectsFromArray(const platform::Array& objects, std::string_view key) {
  requireMembers(objects);
  performOperation(AddUniqueOperation::create(objects), key);
}

void Object::removeObject(const Value& object, std::string_view key) { removeObjectsInArray({object}, key); }

void Object::removeObjectsInArray(const platform::Array& objects, std::string_view key) {
  requireMembers(objects);
  performOperation(RemoveOperation::create(objects), key);
}

void Object::incrementKey(std::string_view key) { incrementKey(key, platform::Number::ofInt(1)); }

void Object::incrementKey(std::string_view key, platform::Number amount) {
  checkIncrementKey(key);
  performOperation(IncrementOperation::create(amount), key);
}

void Object::setACL(const std::shared_ptr<AccessListBase>& acl) {
  if (acl) {
    setObject(Value(acl), "ACL");
  } else {
    removeObjectForKey("ACL");
  }
}

void Object::setObjectId(std::optional<std::string> objectId) {
  Lock lock(mutex_);
  setObjectIdLocked(std::move(objectId));
}

void Object::markDirty() {
  Lock lock(mutex_);
  dirty_ = true;
}

void Object::forgetObjectIdAndMarkAllFieldsDirty() {
  Lock lock(mutex_);
  setObjectIdLocked(std::nullopt);
  const FieldMap fields = estimatedData_;
  for (const auto& [key, value] : fields) setObject(value, key);
}

void Object::setObjectIdLocked(std::optional<std::string> objectId) {
  dirty_ = true;
  std::optional<std::string> local;
  {
    std::lock_guard identity(identityMutex_);
    objectId_ = objectId;
    local = localId_;
  }
  if (!local || !objectId) return;
  requireLocalIdManager()->setObjectIdForLocalId(*objectId, *local);
  std::lock_guard identity(identityMutex_);
  localId_.reset();
}

void Object::performOperation(const FieldOperationPtr& operation, std::string_view key) {
  Lock lock(mutex_);
  auto found = estimatedData_.find(key);
  const bool hadValue = found != estimatedData_.end();
  const Value old = hadValue ? found->second : Value();
  Value next = operation->applyToValue(old, key, selfPtr());
  // The snapshot is taken before anything changes: a value without JSON form
  // is refused with the object untouched.
  std::optional<JSONCacheItem> snapshot;
  if (InternalUtils::isContainerClass(next)) snapshot = JSONCacheItem::cacheFromObject(next);

  if (next.isNil()) {
    if (hadValue) estimatedData_.erase(found);
  } else {
    estimatedData_.insert_or_assign(std::string(key), next);
  }
  auto& pending = lastOperationSet();
  auto previous = pending.find(key);
  FieldOperationPtr merged;
  try {
    merged = operation->mergeWithPrevious(previous == pending.end() ? nullptr : previous->second);
  } catch (...) {
    // The fold was refused: put the estimate back so the object is unchanged.
    if (hadValue) {
      estimatedData_.insert_or_assign(std::string(key), old);
    } else {
      estimatedData_.erase(std::string(key));
    }
    throw;
  }
  if (previous == pending.end()) {
    pending.emplace(std::string(key), std::move(merged));
  } else {
    previous->second = std::move(merged);
  }
  if (snapshot) hashedObjectsCache_.insert_or_assign(identityOf(next), snapshotOf(next, std::move(*snapshot)));
  dataAvailability_.insert_or_assign(std::string(key), true);
}

// ---- Local ids ---------------------------------------------------------------

std::string Object::getOrCreateLocalId() {
  {
    std::lock_guard identity(identityMutex_);
    if (localId_) return *localId_;
    if (objectId_)
      throw InternalInconsistencyException("A localId should not be created for an object with an objectId.");
  }
  // Created outside the identity lock: the manager is another subsystem.
  std::string created = requireLocalIdManager()->createLocalId();
  std::lock_guard identity(identityMutex_);
  if (!localId_) {
    if (objectId_)
      throw InternalInconsistencyException("A localId should not be created for an object with an objectId.");
    localId_ = std::move(created);
  }
  return *localId_;
}

void Object::resolveLocalId() {
  Lock lock(mutex_);
  auto local = localId();
  if (!local) throw InternalInconsistencyException("Tried to resolve a localId for an object with no localId.");
  auto objectId = requireLocalIdManager()->objectIdForLocalId(*local);
  if (!objectId) throw InternalInconsistencyException("Tried to save an object with a pointer to a new, unsaved object.");
  {
    std::lock_guard identity(identityMutex_);
    localId_.reset();
  }
  setObjectIdLocked(std::move(objectId));
}

// ---- Save listeners ----------------------------------------------------------

std::size_t Object::registerSaveListener(SaveListener listener) {
  Lock lock(mutex_);
  const std::size_t token = nextListenerToken_++;
  saveListeners_.emplace_back(token, std::move(listener));
  return token;
}

void Object::unregisterSaveListener(std::size_t token) {
  Lock lock(mutex_);
  std::erase_if(saveListeners_, [token](const auto& entry) { return entry.first == token; });
}

void Object::notifySaveListeners(const std::optional<platform::Error>& error) {
  std::vector<SaveListener> listeners;
  {
    Lock lock(mutex_);
    for (const auto& entry : saveListeners_) listeners.push_back(entry.second);
  }
  const ObjectPtr self = selfPtr();
  for (const auto& listener : listeners) listener(self, error);
}

// ---- Description -------------------------------------------------------------

namespace {

// A copy in which every data object, at any depth, is shown by reference:
// describing a held object in full would recurse forever on a cycle.
Value withObjectsByReference(const Value& value) {
  if (auto object = value.object<Object>())
    return Value("<" + object->backendClassName() + ":" + object->objectId().value_or("new") + ">");
  if (const platform::Array* array = value.array()) {
    platform::Array shown;
    shown.reserve(array->size());
    for (const Value& element : *array) shown.push_back(withObjectsByReference(element));
    return Value(std::move(shown));
  }
  if (const platform::Dictionary* dictionary = value.dictionary()) {
    platform::Dictionary shown;
    shown.reserve(dictionary->size());
    for (const auto& [key, member] : *dictionary) shown.append(key, withObjectsByReference(member));
    return Value(std::move(shown));
  }
  return value;
}

}  // namespace

std::string Object::description() const {
  FieldMap fields;
  {
    Lock lock(mutex_);
    fields = estimatedData_;
  }
  platform::Dictionary shown;
  for (const auto& [key, value] : fields) shown.append(key, withObjectsByReference(value));
  return "<" + className_ + ":" + objectId().value_or("new") + ":" + localId().value_or("(null)") + "> " +
         Value(std::move(shown)).description();
}

}  // namespace backend
