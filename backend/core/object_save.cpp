// Saving one data object: at once through the task queue, or eventually
// through the offline command queue.

#include <algorithm>

#include "backend/internal/object_save_hooks.hpp"
#include "backend/internal/object_transport.hpp"
#include "backend/object.hpp"
#include "object_task_support.hpp"
#include "platform/exceptions.hpp"

namespace backend {
namespace {

bool contains(const std::vector<ObjectPtr>& objects, const ObjectPtr& object) {
  return std::find(objects.begin(), objects.end(), object) != objects.end();
}

// A successful answer without a "result" still means the changes were
// stored: merging nil would make them pending again and send them twice.
Value savedAnswer(const Value& result) { return result.isNil() ? Value::emptyDictionary() : result; }

}  // namespace

void Object::handleSaveResult(const Value& answer, Listeners listeners) {
  mergeAfterSave(answer);
  if (listeners == Listeners::Notify && !answer.isNil()) notifySaveListeners(std::nullopt);
}

Task<bool> Object::saveAsync() {
  const auto sessionToken = currentSessionToken();
  if (!isDirty(Children::Consider)) return Task<bool>::taskWithResult(true);

  std::vector<ObjectPtr> children;
  std::vector<Value> files;
  for (const auto& [key, value] : estimatedDataSnapshot()) collectDirtyChildren(value, children, files);
  const ObjectPtr self = selfPtr();
  // An object that refers back to itself through dirty objects is saved in
  // its place among them; saving it again afterwards would send its changes
  // twice.
  const bool savedAmongChildren = contains(children, self);
  Task<bool> childrenSaved = deepSaveCollected(children, files, sessionToken);
  if (savedAmongChildren) return childrenSaved;
  return taskQueue_.enqueue(
      [&](const Task<void>& awaited) { return saveAfter(awaited, childrenSaved, sessionToken); });
}

Task<bool> Object::saveAfter(const Task<void>& awaited, const Task<bool>& children,
                             const std::optional<std::string>& sessionToken) {
  OperationSet changes;
  {
    Lock lock(mutex_);
    const bool ownChanges = isDirty(Children::Ignore);
    if (!ownChanges) return children;
    changes = unsavedChanges();
    startSave();
  }
  const ObjectPtr self = selfPtr();
  Task<bool> ready = awaited.continueWith([children](const Task<void>&) { return children; });
  Task<Value> sent = ready.onSuccess([self, changes, sessionToken](const Task<bool>&) {
    self->checkSaveParams();
    return requireObjectTransport()->save(self, changes, sessionToken, ObjectTransport::Delivery::Now);
  });
  return sent.continueWith([self](const Task<Value>& command) -> Task<bool> {
    if (detail::succeeded(command)) {
      self->handleSaveResult(savedAnswer(command.result()), Listeners::Notify);
      return Task<bool>::taskWithResult(true);
    }
    self->handleSaveResult(Value(), Listeners::Skip);
    return detail::failureOf<bool>(command);
  });
}

bool Object::save(std::optional<platform::Error>* error) { return saveAsync().waitForResult(error); }

void Object::saveInBackground(BoolCallback callback) {
  saveAsync().thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
}

Task<bool> Object::saveEventually(BoolCallback callback) {
  const auto sessionToken = currentSessionToken();
  if (!isDirty(Children::Ignore)) {
    Task<bool> done = Task<bool>::taskWithResult(true);
    if (callback) done.thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
    return done;
  }
  std::vector<ObjectPtr> children;
  std::vector<Value> files;
  for (const auto& [key, value] : estimatedDataSnapshot()) collectDirtyChildren(value, children, files);
  if (!files.empty())
    throw platform::InternalInconsistencyException(
        "Unable to saveEventually a BEObject with a relation to a new, unsaved BEFile.");

  // The queue sends in the order it was given, so storing the saves in
  // dependency order is what orders them on the server. Each object is
  // stored without its own children: they are all in this one ordering.
  const ObjectPtr self = selfPtr();
  std::optional<Task<bool>> own;
  for (const auto& step : dependencyOrderedSteps(children)) {
    std::vector<ObjectPtr> batch = step.batch;
    if (step.lazyUser) batch.insert(batch.begin(), step.lazyUser);
    for (const auto& object : batch) {
      if (object == self) {
        own = saveEventuallyWithoutChildren(callback, sessionToken);
      } else {
        object->saveEventuallyWithoutChildren(nullptr, sessionToken);
      }
    }
  }
  if (own) return *own;
  return saveEventuallyWithoutChildren(std::move(callback), sessionToken);
}

Task<bool> Object::saveEventuallyWithoutChildren(BoolCallback callback, const std::optional<std::string>& sessionToken) {
  OperationSet changes;
  {
    Lock lock(mutex_);
    // Checked before the save starts, so a refusal leaves no save behind.
    checkSaveParams();
    changes = unsavedChanges();
    startSave();
  }
  const ObjectPtr self = selfPtr();
  Task<Value> queued;
  try {
    queued = requireObjectTransport()->save(self, changes, sessionToken, ObjectTransport::Delivery::Eventually);
  } catch (...) {
    handleSaveResult(Value(), Listeners::Skip);
    throw;
  }
  Task<bool> outcome = queued.continueWith([self](const Task<Value>& command) -> Task<bool> {
    if (detail::succeeded(command)) {
      self->handleSaveResult(savedAnswer(command.result()), Listeners::Notify);
      return Task<bool>::taskWithResult(true);
    }
    self->handleSaveResult(Value(), Listeners::Skip);
    return detail::failureOf<bool>(command);
  });
  if (callback) outcome.thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
  return outcome;
}

}  // namespace backend
