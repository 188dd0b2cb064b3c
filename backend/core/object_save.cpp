// Saving one data object: at once through the task queue, or eventually
// through the offline command queue.

#include <algorithm>

#include "backend/internal/object_save_hooks.hpp"
#include "backend/internal/object_task_support.hpp"
#include "backend/internal/object_transport.hpp"
#include "backend/object.hpp"
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

void Object::handleSaveResult(SaveId save, const Value& answer, Listeners listeners) {
  mergeAfterSave(save, answer);
  if (listeners == Listeners::Notify && !answer.isNil()) notifySaveListeners(std::nullopt);
}

Task<bool> Object::saveAsync() {
  const auto sessionToken = std::make_shared<SessionTokenSlot>(currentSessionToken());
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
                             const SharedSessionToken& sessionToken) {
  SaveId save;
  {
    Lock lock(mutex_);
    const bool ownChanges = isDirty(Children::Ignore);
    if (!ownChanges) return children;
    save = startSave();
  }
  const ObjectPtr self = selfPtr();
  Task<bool> ready = awaited.continueWith([children](const Task<void>&) { return children; });
  // The command is built from the set as it is when it goes out, so that
  // operations a failed earlier save folded into it are sent too.
  Task<Value> sent = ready.onSuccess([self, save, sessionToken](const Task<bool>&) {
    self->checkSaveParams();
    return requireObjectTransport()->save(self, self->changesToSend(save), sessionToken->get(),
                                          ObjectTransport::Delivery::Now);
  });
  return sent.continueWith([self, save](const Task<Value>& command) -> Task<bool> {
    if (detail::succeeded(command)) {
      self->handleSaveResult(save, savedAnswer(command.result()), Listeners::Notify);
      return Task<bool>::taskWithResult(true);
    }
    self->handleSaveResult(save, Value(), Listeners::Skip);
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

  const ObjectPtr self = selfPtr();
  const auto steps = dependencyOrderedSteps(children);
  for (const auto& step : steps) {
    if (!step.lazyUser) continue;
    // The offline queue cannot sign a user up, and what points at the user
    // needs its object id and goes with its session: the user is signed up
    // now, and the rest is stored once it has been.
    Task<bool> stored = currentUserHooks().saveLazyUser(step.lazyUser).onSuccess([self](const Task<bool>&) {
      return self->saveEventually();
    });
    if (callback) stored.thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
    return stored;
  }

  // The queue sends in the order it was given, so storing the saves in
  // dependency order is what orders them on the server. Each object is
  // stored without its own children: they are all in this one ordering, and
  // each is stored after the one before it.
  std::optional<Task<bool>> own;
  Task<void> previous = Task<void>::taskWithResult();
  for (const auto& step : steps) {
    for (const auto& object : step.batch) {
      Task<void> stored;
      if (object == self) {
        own = saveEventuallyWithoutChildren(callback, sessionToken, previous, stored);
      } else {
        object->saveEventuallyWithoutChildren(nullptr, sessionToken, previous, stored);
      }
      previous = stored;
    }
  }
  if (own) return *own;
  Task<void> stored;
  return saveEventuallyWithoutChildren(std::move(callback), sessionToken, previous, stored);
}

Task<bool> Object::saveEventuallyWithoutChildren(BoolCallback callback, const std::optional<std::string>& sessionToken,
                                                 const Task<void>& after, Task<void>& stored) {
  SaveId save;
  {
    Lock lock(mutex_);
    // Checked before the save starts, so a refusal leaves no save behind.
    checkSaveParams();
    save = startSave();
  }
  const ObjectPtr self = selfPtr();
  std::shared_ptr<ObjectTransport> transport;
  try {
    transport = requireObjectTransport();
  } catch (...) {
    handleSaveResult(save, Value(), Listeners::Skip);
    throw;
  }
  // Handing the command to the offline queue is this object's queued work,
  // so it never overtakes a save already under way; the outcome arrives
  // later and ends this save's own set.
  auto handOver = [self, save, sessionToken, transport]() {
    return transport->save(self, self->changesToSend(save), sessionToken, ObjectTransport::Delivery::Eventually);
  };
  TaskCompletionSource<void> handedOver;
  Task<Value> queued;
  stored = taskQueue_.enqueue([&](const Task<void>& awaited) -> Task<void> {
    Task<void> ready = whenAll({awaited, after});
    if (ready.isCompleted()) {
      // Nothing to wait for: stored at once, and a refusal raises here.
      try {
        queued = handOver();
      } catch (...) {
        handleSaveResult(save, Value(), Listeners::Skip);
        throw;
      }
      return Task<void>::taskWithResult();
    }
    queued = ready.continueWith([handOver, handedOver](const Task<void>&) -> Task<Value> {
      // The queue moves on once the command is stored, whatever happened.
      struct Signal {
        TaskCompletionSource<void> source;
        ~Signal() { source.trySetResult(); }
      } signal{handedOver};
      return handOver();
    });
    return handedOver.task();
  });
  Task<bool> outcome = queued.continueWith([self, save](const Task<Value>& command) -> Task<bool> {
    if (detail::succeeded(command)) {
      self->handleSaveResult(save, savedAnswer(command.result()), Listeners::Notify);
      return Task<bool>::taskWithResult(true);
    }
    self->handleSaveResult(save, Value(), Listeners::Skip);
    return detail::failureOf<bool>(command);
  });
  if (callback) outcome.thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
  return outcome;
}

}  // namespace backend
