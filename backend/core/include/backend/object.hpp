#pragma once
// A data object: the client-side copy of one record of a backend class.
//
// The object keeps what the server last confirmed (server data) apart from
// the changes not confirmed yet (a queue of operation sets, one per save in
// flight plus one for new edits), and shows the application the estimate:
// server data with every queued operation applied. A failed save folds its
// operations back so no edit is lost; a server answer is merged without
// overwriting edits made while the save was under way.
//
// Objects are always handled through std::shared_ptr; create them with the
// static factories. Every operation takes the object's private recursive
// lock; no other object's lock is taken while it is held (identity fields of
// other objects are read through a separate leaf lock).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "backend/field_operation.hpp"
#include "backend/internal/json_cache_item.hpp"
#include "backend/internal/object_hooks.hpp"
#include "backend/internal/task_queue.hpp"
#include "platform/date.hpp"
#include "platform/error.hpp"
#include "platform/value.hpp"

namespace backend {

class Object;
class SessionTokenSlot;
using ObjectPtr = std::shared_ptr<Object>;

// Field name → value, in key order.
using FieldMap = std::map<std::string, Value, std::less<>>;
// Field name → the one pending operation for it.
using OperationSet = std::map<std::string, FieldOperationPtr, std::less<>>;

// How an object is made: as a new local object, or as a reference (pointer)
// to a server record whose data is not here yet.
enum class Creation { Local, Pointer };
// Whether a server answer holds the complete record.
enum class Completeness { Partial, Complete };
// Whether isDirty looks at the data objects held in fields.
enum class Children { Ignore, Consider };

class Object : public platform::SharedObject {
 public:
  Object();
  ~Object() override;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  // ---- Creating -------------------------------------------------------------

  // A new local object of the class registered for the name (see
  // object_subclass.hpp), or of Object itself. Raises InvalidArgumentException
  // "Invalid class name. Class names cannot start with an underscore." for a
  // reserved name that no registered class accepts.
  static ObjectPtr objectWithClassName(std::string_view className);
  // A new local object with each entry set through setObject.
  static ObjectPtr objectWithClassName(std::string_view className, const platform::Dictionary& fields);
  // A local object or a reference. For a reference, raises
  // InternalInconsistencyException "The init method of <class> set values on
  // the object, which is not allowed." when construction left pending changes.
  static ObjectPtr objectWithClassName(std::string_view className, Creation creation);
  // A reference to the record with that id: not dirty, no data available.
  static ObjectPtr objectWithoutData(std::string_view className, std::string_view objectId);
  // A reference with no object id that carries a local id (decoded pointers).
  static ObjectPtr objectWithoutDataWithLocalId(std::string_view className, std::string_view localId);

  // Raises InvalidArgumentException "Invalid class name. Class names cannot
  // start with an underscore." for a name starting with "_". Classes for the
  // reserved names declare their own static validateClassName.
  static void validateClassName(std::string_view className);

  // ---- Reading --------------------------------------------------------------

  // The estimated value of a field (nil when it has none). Raises
  // InternalInconsistencyException "Key \"<key>\" has no data.  Call
  // fetchIfNeeded before getting its value." when the field's data is not
  // here. Reading "ACL" while it holds a shared list replaces it by a private
  // copy (a pending change) and returns the copy; a relation is bound to
  // this object and key.
  Value objectForKey(std::string_view key);
  Value operator[](std::string_view key) { return objectForKey(key); }
  // The field names of the estimate, in key order.
  std::vector<std::string> allKeys() const;
  // A new relation for this object and key, taking the target class of a
  // relation the field holds. Raises when the relation type is not installed.
  std::shared_ptr<RelationBase> relationForKey(std::string_view key);

  bool isDataAvailable() const;
  bool isDataAvailableForKey(std::string_view key) const;
  // True when the object was created locally and not saved yet, its id was
  // set by hand, a field has a pending change (in-place container edits
  // included), or, with Children::Consider, a data object held in a field is
  // dirty. Terminates on cycles of objects.
  bool isDirty(Children children = Children::Consider);
  bool isDirtyForKey(std::string_view key);

  std::optional<std::string> objectId() const;
  std::optional<std::string> localId() const;
  std::optional<platform::Date> createdAt() const;
  std::optional<platform::Date> updatedAt() const;
  // Fixed at creation.
  const std::string& backendClassName() const noexcept { return className_; }
  // The access list of the field "ACL" (nullptr when none or not a list).
  std::shared_ptr<AccessListBase> ACL();

  // ---- Changing -------------------------------------------------------------

  // Sets a field. A field operation value is performed as it is; any other
  // value must be of a valid field class. Raises InvalidArgumentException
  // "Can't use nil for keys or values on BEObject. Use NSNull for values."
  // for nil and "BEObject values may not have class: <class>" for other
  // classes.
  void setObject(const Value& value, std::string_view key);
  // Records a delete only when the field currently has a value.
  virtual void removeObjectForKey(std::string_view key);
  void addObject(const Value& object, std::string_view key);
  void addObjectsFromArray(const platform::Array& objects, std::string_view key);
  void addUniqueObject(const Value& object, std::string_view key);
  void addUniqueObjectsFromArray(const platform::Array& objects, std::string_view key);
  void removeObject(const Value& object, std::string_view key);
  void removeObjectsInArray(const platform::Array& objects, std::string_view key);
  // Increments by the int 1, or by the amount (the result keeps its type).
  void incrementKey(std::string_view key);
  void incrementKey(std::string_view key, platform::Number amount);
  // Sets "ACL", or removes it for nullptr.
  void setACL(const std::shared_ptr<AccessListBase>& acl);
  // Sets the id by hand: the object becomes dirty, and a local id it had is
  // handed to the local-id manager as meaning this id, then forgotten.
  void setObjectId(std::optional<std::string> objectId);

  // ---- State model (saving, fetching, the offline queue) --------------------

  // Applies the operation to the estimate and folds it onto the pending
  // operation of the field. When the fold raises, the estimate is restored
  // and the object is unchanged.
  void performOperation(const FieldOperationPtr& operation, std::string_view key);
  // The newest operation set (the edits a save would send).
  OperationSet unsavedChanges() const;
  // Names one save's operation set for as long as the save lasts.
  using SaveId = std::uint64_t;
  // Starts a new operation set: edits from now on stay apart from the ones
  // being saved. Answers the id of the set the save owns.
  SaveId startSave();
  // The save's operation set as it is now, read when its command is built
  // (a failed earlier save may have folded its operations into it). Marks
  // the set sent: later failures fold past it.
  OperationSet changesToSend(SaveId save);
  // Applies every operation of the set to the map (nil results remove keys).
  static void applyOperations(const OperationSet& operations, FieldMap& fields,
                              const std::shared_ptr<Object>& object = nullptr);
  // The estimate recomputed from server data and every operation set.
  void rebuildEstimatedData();
  // Ends the oldest save: with an answer (a dictionary) its operations become
  // server data and the answer is merged; with nil (the save failed) they are
  // folded back under the newer edits, to be sent again.
  void mergeAfterSave(const Value& result);
  // Ends the named save likewise. A failed save's operations go to the next
  // set not yet sent; a field an operation cannot merge onto, or one a later
  // sent save also changes, becomes a set of its expected value.
  void mergeAfterSave(SaveId save, const Value& result);
  void mergeAfterFetch(const Value& result, Completeness completeness);
  // Takes "id", "created_at", "updated_at", "pointers" and "data" of an answer
  // (already decoded) into server data and the object's own fields.
  // Subclasses may take more of the answer (a user its session token).
  virtual void mergeFromServer(const Value& result, Completeness completeness);
  // Drops the fields of server data that the answer's "data" lacks.
  void removeOldKeysAfterFetch(const Value& result);
  // Takes another object's id, timestamps and server data and drops the
  // pending edits. Raises InternalInconsistencyException "Attempt to
  // mergeFromObject during a save." while a save is in flight.
  void mergeFromObject(const Object& other);

  void checkpointMutableContainer(const Value& value);
  void checkpointAllMutableContainers();
  // Records a set operation when the container changed since its snapshot.
  // Raises InternalInconsistencyException "BEObject contains container item
  // that isn't cached." for a container without snapshot.
  void checkForChangesToMutableContainer(const Value& value, std::string_view key);
  void checkForChangesToMutableContainers();

  // The local id, created with the local-id manager on first use. Raises
  // InternalInconsistencyException "A localId should not be created for an
  // object with an objectId." when the object has an id.
  std::string getOrCreateLocalId();
  // Replaces the local id by the object id the manager holds for it. Raises
  // InternalInconsistencyException "Tried to resolve a localId for an object
  // with no localId." / "Tried to save an object with a pointer to a new,
  // unsaved object."
  void resolveLocalId();

  void setHasBeenFetched(bool fetched);
  // Copies of the state for saving and the data file.
  FieldMap estimatedDataSnapshot() const;
  FieldMap serverDataSnapshot() const;
  std::size_t operationSetCount() const;

  // Checks run before saving and deleting; built-in subclasses override them
  // to raise on misuse. The base does nothing.
  virtual void checkSaveParams() {}
  virtual void checkDeleteParams() {}

  // Listeners told after a successful single save, with the object and no
  // error. Registration answers a token for unregistering; listeners run on
  // the thread that ends the save, without the object's lock.
  using SaveListener = std::function<void(const ObjectPtr& object, const std::optional<platform::Error>& error)>;
  std::size_t registerSaveListener(SaveListener listener);
  void unregisterSaveListener(std::size_t token);
  void notifySaveListeners(const std::optional<platform::Error>& error);

  // Serialises this object's network operations.
  TaskQueue& taskQueue() noexcept { return taskQueue_; }

  // "<class:id-or-new:localId> {fields}", held data objects shown as
  // "<class:id-or-new>".
  std::string description() const override;

  // ---- Saving, fetching, deleting (object_save.cpp and its siblings) -------
  //
  // Every network operation of an object runs on its task queue, so the
  // operations of one object never overlap. They reach the service through
  // the installed ObjectTransport (raising InternalInconsistencyException
  // "You have to call setApplicationId:clientKey: on Backend to configure
  // Backend." before configuration). Failures of the network or the server
  // are task errors; misuse raises. Blocking forms wait on the calling thread
  // (warning on the main thread), hand the error to the optional out-
  // parameter and rethrow a captured exception. Callback forms call back on
  // the main queue; with no callback they only start the work.

  using BoolCallback = std::function<void(bool succeeded, const std::optional<platform::Error>& error)>;
  using ObjectCallback = std::function<void(const ObjectPtr& object, const std::optional<platform::Error>& error)>;
  using ObjectsCallback =
      std::function<void(const std::vector<ObjectPtr>& objects, const std::optional<platform::Error>& error)>;

  // Saves the pending changes and, first, every dirty data object they refer
  // to (in dependency-ordered batches). True at once when nothing is dirty;
  // when only referred objects are dirty, no command is sent for this one.
  // Edits made while the save is in flight stay pending; a failed save keeps
  // every edit. Raises InternalInconsistencyException "Found a circular
  // dependency when saving." for new objects that point at each other, and
  // "Unable to save a BEObject with a relation to a cycle." when the referred
  // objects can never be ordered.
  // Virtual so built-in subclasses can add their own steps to every save form.
  virtual Task<bool> saveAsync();
  bool save(std::optional<platform::Error>* error = nullptr);
  void saveInBackground(BoolCallback callback = nullptr);
  // Hands the save (and the saves of the dirty objects it refers to, in
  // dependency order) to the offline command queue. The callback (main
  // queue) and the answered task end when the queue finally sent or dropped
  // the command; a failure makes the sent changes pending again. Raises
  // InternalInconsistencyException "Unable to saveEventually a BEObject with
  // a relation to a new, unsaved BEFile." and the cycle errors of saveAsync.
  virtual Task<bool> saveEventually(BoolCallback callback = nullptr);

  // Replaces the data by the server's. Raises InvalidArgumentException
  // "Can't refresh an object that hasn't been saved to the server." for an
  // object without object id.
  virtual Task<ObjectPtr> fetchAsync();
  // fetchAsync only when the object's data is not available.
  Task<ObjectPtr> fetchIfNeededAsync();
  ObjectPtr fetch(std::optional<platform::Error>* error = nullptr);
  ObjectPtr refresh(std::optional<platform::Error>* error = nullptr);
  ObjectPtr fetchIfNeeded(std::optional<platform::Error>* error = nullptr);
  void fetchInBackground(ObjectCallback callback = nullptr);
  void refreshInBackground(ObjectCallback callback = nullptr);
  void fetchIfNeededInBackground(ObjectCallback callback = nullptr);

  // Deletes the record; an object never saved succeeds without a request.
  // The local state of the object is not changed.
  virtual Task<bool> deleteAsync();
  bool deleteObject(std::optional<platform::Error>* error = nullptr);
  void deleteInBackground(BoolCallback callback = nullptr);
  // Hands the delete to the offline command queue (an object never saved is
  // sent with empty data; the queue fails it with code 106 when its creation
  // never succeeded). The task ends with the queue's outcome.
  Task<bool> deleteEventually();

  // Batch forms with the current session token. saveAll is the deep save of
  // the list; deleteAll sends one "multi" with one delete per distinct
  // record. The fetchAll forms run one "find" on "objectId" for all objects,
  // which must share a class name (InternalInconsistencyException "All object
  // should be in the same class") and have object ids ("All objects must
  // exist on the server", also raised when the server lacks one); the
  // if-needed forms leave out objects whose data is available. Each fetched
  // object takes the server's data, dropping its pending edits.
  static Task<bool> saveAllAsync(const std::vector<ObjectPtr>& objects);
  static bool saveAll(const std::vector<ObjectPtr>& objects, std::optional<platform::Error>* error = nullptr);
  static void saveAllInBackground(const std::vector<ObjectPtr>& objects, BoolCallback callback = nullptr);
  static Task<bool> deleteAllAsync(const std::vector<ObjectPtr>& objects);
  static bool deleteAll(const std::vector<ObjectPtr>& objects, std::optional<platform::Error>* error = nullptr);
  static void deleteAllInBackground(const std::vector<ObjectPtr>& objects, BoolCallback callback = nullptr);
  static Task<std::vector<ObjectPtr>> fetchAllAsync(const std::vector<ObjectPtr>& objects);
  static Task<std::vector<ObjectPtr>> fetchAllIfNeededAsync(const std::vector<ObjectPtr>& objects);
  static std::vector<ObjectPtr> fetchAll(const std::vector<ObjectPtr>& objects,
                                         std::optional<platform::Error>* error = nullptr);
  static std::vector<ObjectPtr> fetchAllIfNeeded(const std::vector<ObjectPtr>& objects,
                                                 std::optional<platform::Error>* error = nullptr);
  static void fetchAllInBackground(const std::vector<ObjectPtr>& objects, ObjectsCallback callback = nullptr);
  static void fetchAllIfNeededInBackground(const std::vector<ObjectPtr>& objects,
                                           ObjectsCallback callback = nullptr);

  // Runs one piece of work on the task queues of several objects at once:
  // `block` is called at once with a task that completes when every earlier
  // piece of work of every object has finished, and must only chain on it.
  // The queues' mutexes are taken in address order, so batches that share
  // objects cannot deadlock. Answers the block's task.
  template <class T>
  static Task<T> enqueueForObjects(const std::vector<ObjectPtr>& objects,
                                   const std::function<Task<T>(const Task<void>&)>& block);

  // The deep save of every dirty data object (and file not yet uploaded)
  // that a value refers to, objects in batches so that each is saved after
  // every unsaved object it points to. Raises as saveAsync.
  static Task<bool> deepSaveAsync(const Value& value, const std::optional<std::string>& sessionToken);
  // The dirty objects a value refers to, each after everything it refers to
  // (duplicates possible), and the files not uploaded yet. Raises
  // InternalInconsistencyException "Found a circular dependency when saving."
  // for new objects that point at each other.
  static void collectDirtyChildren(const Value& value, std::vector<ObjectPtr>& children, std::vector<Value>& files);
  // Whether this object's save can be encoded once the objects in `done` are
  // saved: false with error 106 "Pointer to an unsaved object." for a
  // pointer to another unsaved object, false with 123 "User associated with
  // ACL must be signed up." for an access list naming a user not signed up
  // while the current user is not in `done`.
  bool canBeSerializedAfterSaving(const std::vector<ObjectPtr>& done, std::optional<platform::Error>* error = nullptr);

  // ---- The data file -------------------------------------------------------

  // {"classname", "data": {server data, "createdAt", "updatedAt",
  // "objectId"}} in typed form; pending changes are not included.
  // Subclasses may add to "data" what they keep beside their fields.
  virtual Value convertToDictionaryForDataFile();
  // {"classname", "data": {each changed field: its operation, "objectId"}},
  // not encoded yet: the body of a save command. Subclasses may add to
  // "data".
  virtual Value convertToDictionaryForSaving(const OperationSet& changes) const;
  // Writes that form as JSON to the named data file, atomically and durably.
  // Write failures are logged, not raised.
  void serializeToDataFile(std::string_view name);
  // The object stored in the named data file, or nullptr when the file is
  // missing, unreadable or not such a form (logged).
  static ObjectPtr objectFromDataFile(std::string_view name);
  // Removes the named data file; failures are ignored.
  static void deleteDataFile(std::string_view name);

 protected:
  // Called first by setObject; built-in subclasses raise here on values they
  // refuse for a key. The base accepts everything.
  virtual void checkSetObject(const Value& /*value*/, std::string_view /*key*/) {}
  // Called first by removeObjectForKey and incrementKey, and by objectForKey
  // before it reads; built-in subclasses guard or refresh their keys there.
  virtual void checkRemoveObject(std::string_view /*key*/) {}
  virtual void checkIncrementKey(std::string_view /*key*/) {}
  virtual void willReadKey(std::string_view /*key*/) {}
  // Whether new local objects get the default access list. True here.
  virtual bool needsDefaultACL() const { return true; }
  // Gives a new local object its default values (the default access list).
  virtual void setDefaultValues();
  // Marks the object as having something to save besides its fields.
  void markDirty();
  // Makes the next save create a new record with every field: the object id
  // goes and each field is set to its own value again, all under the lock,
  // so that no edit made meanwhile is overwritten by the value read before it.
  void forgetObjectIdAndMarkAllFieldsDirty();

 private:
  friend class SubclassRegistry;

  using Lock = std::unique_lock<std::recursive_mutex>;
  struct Snapshot {
    Value holder;  // keeps the container alive, so its identity stays unique
    // The data objects the snapshot names by identity, kept alive likewise.
    std::vector<Value> namedObjects;
    JSONCacheItem item;
  };
  struct PendingSet {
    OperationSet operations;
    SaveId id = 0;
    bool sent = false;
  };

  static ObjectPtr instantiate(std::string_view className);

  // Whether listeners hear of a save's end.
  enum class Listeners { Notify, Skip };
  // Ends the oldest save: merges the answer (nil: the save failed and its
  // changes become pending again) and tells the listeners when asked.
  void handleSaveResult(SaveId save, const Value& answer, Listeners listeners);
  void handleFetchResult(const Value& answer);
  // The single save's step after `awaited` and `children`.
  Task<bool> saveAfter(const Task<void>& awaited, const Task<bool>& children,
                       const std::shared_ptr<SessionTokenSlot>& sessionToken);
  // Stores the object's own save in the offline queue once `after` and its
  // earlier queued work are done; answers the outcome, and sets `stored` to
  // the task of the hand-over.
  Task<bool> saveEventuallyWithoutChildren(BoolCallback callback, const std::optional<std::string>& sessionToken,
                                           const Task<void>& after, Task<void>& stored);
  // Saves one batch of objects through one "multi" command.
  static Task<bool> saveBatchAsync(const std::vector<ObjectPtr>& objects,
                                   const std::optional<std::string>& sessionToken);
  // One step of a deep save: the lazy current user's own save, then (or
  // only) one batch.
  struct SaveStep {
    ObjectPtr lazyUser;
    std::vector<ObjectPtr> batch;
  };
  // The collected objects without duplicates, in steps such that each object
  // comes after every unsaved object it points to. Raises
  // InternalInconsistencyException "Unable to save a BEObject with a
  // relation to a cycle." when some can never come.
  static std::vector<SaveStep> dependencyOrderedSteps(const std::vector<ObjectPtr>& objects);
  // A lazy current user among them renews the token for what follows it.
  static Task<bool> deepSaveCollected(const std::vector<ObjectPtr>& children, const std::vector<Value>& files,
                                      const std::shared_ptr<SessionTokenSlot>& sessionToken);
  static Task<std::vector<ObjectPtr>> fetchAllAsync(const std::vector<ObjectPtr>& objects, bool onlyIfNeeded);
  static Task<bool> deleteAllAsync(const std::vector<ObjectPtr>& objects, const std::optional<std::string>& sessionToken);
  // The distinct task queues of the objects, in the address order of their mutexes.
  static std::vector<TaskQueue*> queuesInAddressOrder(const std::vector<ObjectPtr>& objects);
  ObjectPtr selfPtr();
  OperationSet& lastOperationSet() { return operationSetQueue_.back().operations; }
  // The expected value of the field after the sets up to `last`, inclusive.
  Value expectedValueThrough(std::size_t last, std::string_view key);
  // Folds a failed save's set into the set at `target`, all or nothing.
  void foldBack(const OperationSet& failed, std::size_t failedAt, std::size_t target);
  void setObjectIdLocked(std::optional<std::string> objectId);
  bool isDirtyVisiting(Children children, std::unordered_set<const Object*>& visited);
  void checkpointLocked(const Value& value);
  static Snapshot snapshotOf(const Value& container, JSONCacheItem item);
  static const void* identityOf(const Value& value);

  std::string className_;
  mutable std::recursive_mutex mutex_;
  // Leaf lock for the identity fields, so that encoding another object never
  // nests object locks.
  mutable std::mutex identityMutex_;
  std::optional<std::string> objectId_;
  std::optional<std::string> localId_;

  bool dirty_ = false;
  bool hasBeenFetched_ = false;
  std::vector<PendingSet> operationSetQueue_;
  SaveId nextSaveId_ = 1;
  FieldMap estimatedData_;
  FieldMap serverData_;
  std::map<std::string, bool, std::less<>> dataAvailability_;
  std::unordered_map<const void*, Snapshot> hashedObjectsCache_;
  std::optional<platform::Date> createdAt_;
  std::optional<platform::Date> updatedAt_;
  std::vector<std::pair<std::size_t, SaveListener>> saveListeners_;
  std::size_t nextListenerToken_ = 1;
  TaskQueue taskQueue_;

  // Set by the factory before anyone else sees the object.
  void initialise(std::string className, Creation creation);
};

template <class T>
Task<T> Object::enqueueForObjects(const std::vector<ObjectPtr>& objects,
                                  const std::function<Task<T>(const Task<void>&)>& block) {
  TaskCompletionSource<void> everyQueueReady;
  const std::vector<TaskQueue*> queues = queuesInAddressOrder(objects);
  std::vector<std::unique_lock<std::mutex>> locks;
  locks.reserve(queues.size());
  for (TaskQueue* queue : queues) locks.emplace_back(queue->mutex());
  Task<T> work = block(everyQueueReady.task());
  std::vector<AnyTask> awaited;
  awaited.reserve(queues.size());
  for (TaskQueue* queue : queues) {
    queue->enqueueLocked([&](const Task<void>& before) {
      awaited.push_back(before);
      return work;
    });
  }
  whenAll(awaited).continueWith([everyQueueReady](const Task<void>&) { everyQueueReady.trySetResult(); });
  for (auto& lock : locks) lock.unlock();
  return work;
}

}  // namespace backend
