// Deleting data objects: one through its task queue or the offline queue,
// several through one "multi".

#include <set>

#include "backend/internal/object_save_hooks.hpp"
#include "backend/internal/object_transport.hpp"
#include "backend/object.hpp"

namespace backend {

Task<bool> Object::deleteAsync() {
  const auto sessionToken = currentSessionToken();
  const ObjectPtr self = selfPtr();
  return taskQueue_.enqueue([&](const Task<void>& awaited) {
    {
      Lock lock(mutex_);
      checkDeleteParams();
    }
    return awaited
        .continueWith([self, sessionToken](const Task<void>&) {
          return requireObjectTransport()->remove(self, sessionToken, ObjectTransport::Delivery::Now);
        })
        .onSuccess([](const Task<Value>&) { return true; });
  });
}

bool Object::deleteObject(std::optional<platform::Error>* error) { return deleteAsync().waitForResult(error); }

void Object::deleteInBackground(BoolCallback callback) {
  deleteAsync().thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
}

Task<bool> Object::deleteEventually() {
  const auto sessionToken = currentSessionToken();
  {
    Lock lock(mutex_);
    checkDeleteParams();
  }
  return requireObjectTransport()
      ->remove(selfPtr(), sessionToken, ObjectTransport::Delivery::Eventually)
      .onSuccess([](const Task<Value>&) { return true; });
}

Task<bool> Object::deleteAllAsync(const std::vector<ObjectPtr>& objects) {
  return deleteAllAsync(objects, currentSessionToken());
}

Task<bool> Object::deleteAllAsync(const std::vector<ObjectPtr>& objects, const std::optional<std::string>& sessionToken) {
  if (objects.empty()) return Task<bool>::taskWithResult(true);
  return enqueueForObjects<bool>(objects, [objects, sessionToken](const Task<void>& awaited) {
    // One delete per record, however often the list names it.
    std::vector<ObjectPtr> kept;
    std::set<std::string> keys;
    for (const auto& object : objects) {
      if (!keys.insert(object->backendClassName() + "-" + object->objectId().value_or("(null)")).second) continue;
      object->checkDeleteParams();
      kept.push_back(object);
    }
    return awaited
        .continueWith([kept, sessionToken](const Task<void>&) {
          return requireObjectTransport()->deleteBatch(kept, sessionToken);
        })
        .onSuccess([](const Task<Value>&) { return true; });
  });
}

bool Object::deleteAll(const std::vector<ObjectPtr>& objects, std::optional<platform::Error>* error) {
  return deleteAllAsync(objects).waitForResult(error);
}

void Object::deleteAllInBackground(const std::vector<ObjectPtr>& objects, BoolCallback callback) {
  deleteAllAsync(objects).thenCallBackOnMainThreadWithBoolValueAsync(std::move(callback));
}

}  // namespace backend
