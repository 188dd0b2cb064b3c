// Saving a graph of data objects: collecting the dirty ones, ordering them so
// that each is saved after the unsaved objects it points to, and saving each
// group through one batch command.

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "backend/internal/internal_utils.hpp"
#include "backend/internal/object_save_hooks.hpp"
#include "backend/internal/object_task_support.hpp"
#include "backend/internal/object_transport.hpp"
#include "backend/object.hpp"
#include "platform/exceptions.hpp"

namespace backend {
namespace {

using ObjectSet = std::unordered_set<const Object*>;

bool contains(const std::vector<ObjectPtr>& objects, const Object* object) {
  return std::any_of(objects.begin(), objects.end(), [object](const ObjectPtr& o) { return o.get() == object; });
}

struct Collector {
  std::vector<ObjectPtr>& children;
  std::vector<Value>& files;
  FileHooks fileHooks = backend::fileHooks();
  CurrentUserHooks userHooks = currentUserHooks();

  // The objects on the way here, and the unsaved ones among them since the
  // last saved object, which is where a cycle cannot be saved. Both change
  // as the walk goes down and back up, so no object copies them.
  ObjectSet seen;
  ObjectSet newOnPath;

  void visit(const Value& node) {
    if (const platform::Array* array = node.array()) {
      for (const Value& element : *array) visit(element);
    } else if (const platform::Dictionary* dictionary = node.dictionary()) {
      for (const auto& [key, member] : *dictionary) visit(member);
    } else if (auto object = node.object<Object>()) {
      visitObject(object);
    } else if (auto acl = node.object<AccessListBase>()) {
      if (userHooks.hasUnresolvedUser && userHooks.currentUser && userHooks.hasUnresolvedUser(*acl)) {
        if (auto user = userHooks.currentUser()) visit(Value(user));
      }
    } else if (fileHooks.isUnsavedFile && fileHooks.isUnsavedFile(node)) {
      files.push_back(node);
    }
  }

  void visitObject(const ObjectPtr& object) {
    const bool isNew = !object->objectId();
    if (isNew && newOnPath.contains(object.get()))
      throw platform::InternalInconsistencyException("Found a circular dependency when saving.");
    if (seen.contains(object.get())) return;
    // A saved object breaks the chain of new ones.
    ObjectSet newAbove;
    if (isNew) {
      newOnPath.insert(object.get());
    } else {
      newAbove = std::exchange(newOnPath, {});
    }
    seen.insert(object.get());
    // Visited from a snapshot: no object lock is held while another object is visited.
    for (const auto& [key, value] : object->estimatedDataSnapshot()) visit(value);
    seen.erase(object.get());
    if (isNew) {
      newOnPath.erase(object.get());
    } else {
      newOnPath = std::move(newAbove);
    }
    if (object->isDirty(Children::Ignore)) children.push_back(object);
  }
};

// 106 for a pointer to an unsaved object that is not in `done` (the fields of
// a pointed-to object are not searched).
bool canBeSerializedAsValue(const Value& value, const ObjectSet& done,
                            std::optional<platform::Error>* error) {
  if (auto object = value.object<Object>()) {
    if (object->objectId() || done.contains(object.get())) return true;
    if (error) *error = InternalUtils::errorWithCode(kErrorMissingObjectId, "Pointer to an unsaved object.", false);
    return false;
  }
  if (const platform::Array* array = value.array()) {
    return std::all_of(array->begin(), array->end(),
                       [&](const Value& element) { return canBeSerializedAsValue(element, done, error); });
  }
  if (const platform::Dictionary* dictionary = value.dictionary()) {
    return std::all_of(dictionary->begin(), dictionary->end(),
                       [&](const auto& entry) { return canBeSerializedAsValue(entry.second, done, error); });
  }
  return true;
}

std::vector<ObjectPtr> withoutDuplicates(const std::vector<ObjectPtr>& objects) {
  std::vector<ObjectPtr> unique;
  ObjectSet seen;
  for (const auto& object : objects) {
    if (seen.insert(object.get()).second) unique.push_back(object);
  }
  return unique;
}

}  // namespace

void Object::collectDirtyChildren(const Value& value, std::vector<ObjectPtr>& children, std::vector<Value>& files) {
  Collector collector{children, files, fileHooks(), currentUserHooks(), {}, {}};
  collector.visit(value);
}

namespace {

// canBeSerializedAfterSaving with the scheduled objects as a set, looked up
// for every pointer the object holds.
bool canBeSerializedAfter(Object& object, const ObjectSet& done, std::optional<platform::Error>* error) {
  const FieldMap fields = object.estimatedDataSnapshot();
  for (const auto& [key, value] : fields) {
    if (!canBeSerializedAsValue(value, done, error)) return false;
  }
  auto acl = fields.find("ACL");
  if (acl == fields.end() || !object.isDataAvailableForKey("ACL")) return true;
  const auto users = currentUserHooks();
  auto list = acl->second.object<AccessListBase>();
  if (!list || !users.hasUnresolvedUser || !users.hasUnresolvedUser(*list)) return true;
  const ObjectPtr user = users.currentUser ? users.currentUser() : nullptr;
  if (user && done.contains(user.get())) return true;
  if (error) *error = InternalUtils::errorWithCode(kErrorACLUserNotSignedUp, "User associated with ACL must be signed up.", false);
  return false;
}

}  // namespace

bool Object::canBeSerializedAfterSaving(const std::vector<ObjectPtr>& done, std::optional<platform::Error>* error) {
  ObjectSet scheduled;
  for (const auto& object : done) scheduled.insert(object.get());
  return canBeSerializedAfter(*this, scheduled, error);
}

std::vector<Object::SaveStep> Object::dependencyOrderedSteps(const std::vector<ObjectPtr>& objects) {
  const auto users = currentUserHooks();
  const ObjectPtr user = users.currentUser ? users.currentUser() : nullptr;
  const bool userIsLazy = user && users.isLazy && users.isLazy(user);

  std::vector<SaveStep> steps;
  std::vector<ObjectPtr> remaining = withoutDuplicates(objects);
  ObjectSet done;
  while (!remaining.empty()) {
    SaveStep step;
    std::vector<ObjectPtr> later;
    for (const auto& object : remaining) {
      (canBeSerializedAfter(*object, done, nullptr) ? step.batch : later).push_back(object);
    }
    if (step.batch.empty())
      throw platform::InternalInconsistencyException("Unable to save a BEObject with a relation to a cycle.");
    if (userIsLazy && contains(step.batch, user.get())) {
      step.lazyUser = user;
      std::erase(step.batch, user);
    }
    for (const auto& object : step.batch) done.insert(object.get());
    if (step.lazyUser) done.insert(step.lazyUser.get());
    steps.push_back(std::move(step));
    remaining = std::move(later);
  }
  return steps;
}

Task<bool> Object::deepSaveAsync(const Value& value, const std::optional<std::string>& sessionToken) {
  std::vector<ObjectPtr> children;
  std::vector<Value> files;
  collectDirtyChildren(value, children, files);
  return deepSaveCollected(children, files, std::make_shared<SessionTokenSlot>(sessionToken));
}

Task<bool> Object::deepSaveCollected(const std::vector<ObjectPtr>& children, const std::vector<Value>& files,
                                     const SharedSessionToken& sessionToken) {
  Task<bool> chain = Task<bool>::taskWithResult(true);
  const FileHooks hooks = fileHooks();
  // Files go up one after another, before any object that may refer to them.
  for (const Value& file : files) {
    chain = chain.onSuccess([hooks, file](const Task<bool>&) {
      return hooks.saveFile(file).continueWith([](const Task<void>& upload) -> Task<bool> {
        if (upload.isCancelled())
          return Task<bool>::taskWithError(InternalUtils::errorWithCode(kErrorFileSaveCancelled, "A file save was cancelled."));
        if (!detail::succeeded(upload)) return detail::failureOf<bool>(upload);
        return Task<bool>::taskWithResult(true);
      });
    });
  }
  const auto users = currentUserHooks();
  for (auto& step : dependencyOrderedSteps(children)) {
    if (step.lazyUser) {
      chain = chain.onSuccess([users, user = step.lazyUser, sessionToken](const Task<bool>&) {
        return users.saveLazyUser(user).onSuccess([sessionToken](const Task<bool>& saved) {
          sessionToken->renew();
          return saved.result();
        });
      });
    }
    if (step.batch.empty()) continue;
    chain = chain.onSuccess([batch = std::move(step.batch), sessionToken](const Task<bool>&) {
      return saveBatchAsync(batch, sessionToken->get());
    });
  }
  return chain;
}

std::vector<TaskQueue*> Object::queuesInAddressOrder(const std::vector<ObjectPtr>& objects) {
  std::vector<TaskQueue*> queues;
  queues.reserve(objects.size());
  for (const auto& object : objects) queues.push_back(&object->taskQueue());
  std::sort(queues.begin(), queues.end(), [](TaskQueue* a, TaskQueue* b) {
    return std::less<const std::mutex*>()(&a->mutex(), &b->mutex());
  });
  // The same object twice must not lock its queue twice.
  queues.erase(std::unique(queues.begin(), queues.end()), queues.end());
  return queues;
}

Task<bool> Object::saveBatchAsync(const std::vector<ObjectPtr>& objects, const std::optional<std::string>& sessionToken) {
  return enqueueForObjects<bool>(objects, [objects, sessionToken](const Task<void>& awaited) -> Task<bool> {
    // Every check before any save starts, so a refusal leaves no object with
    // a save that never ends.
    for (const auto& object : objects) object->checkSaveParams();
    std::vector<std::pair<ObjectPtr, SaveId>> started;
    started.reserve(objects.size());
    for (const auto& object : objects) started.emplace_back(object, object->startSave());
    // Each command is built from its set as it is when the batch goes out.
    Task<Value> sent = awaited.continueWith([started, sessionToken](const Task<void>&) {
      std::vector<std::pair<ObjectPtr, OperationSet>> saves;
      saves.reserve(started.size());
      for (const auto& [object, save] : started) saves.emplace_back(object, object->changesToSend(save));
      return requireObjectTransport()->saveBatch(saves, sessionToken);
    });
    return sent.continueWith([started](const Task<Value>& answer) -> Task<bool> {
      const platform::Array* results = answer.isCompleted() && detail::succeeded(answer) ? answer.result().array() : nullptr;
      if (results && results->size() == started.size()) {
        for (std::size_t i = 0; i < started.size(); ++i)
          started[i].first->handleSaveResult(started[i].second, (*results)[i], Listeners::Skip);
        return Task<bool>::taskWithResult(true);
      }
      for (const auto& [object, save] : started) object->handleSaveResult(save, Value(), Listeners::Skip);
      if (!detail::succeeded(answer)) return detail::failureOf<bool>(answer);
      return Task<bool>::taskWithError(
          InternalUtils::errorWithCode(0, "The answer to a batch save does not have one result per object."));
    });
  });
}

Task<bool> Object::saveAllAsync(const std::vector<ObjectPtr>& objects) {
  platform::Array list(objects.begin(), objects.end());
  return deepSaveAsync(Value(std::move(list)), currentSessionToken());
}

bool Object::saveAll(const std::vector<ObjectPtr>& objects, std::optional<platform::Error>* error) {
  return saveAllAsync(objects).waitForResult(error);
}

void Object::saveAllInBackground(const std::vector<ObjectPtr>& objects, BoolCallback callback) {
  saveAllAsync(objects).thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
}

}  // namespace backend
