// Fetching data objects: one through its task queue, several through one
// "find" on their ids.

#include <map>
#include <set>

#include "backend/internal/object_save_hooks.hpp"
#include "backend/internal/object_task_support.hpp"
#include "backend/internal/object_transport.hpp"
#include "backend/object.hpp"
#include "backend/query.hpp"
#include "platform/exceptions.hpp"

namespace backend {

void Object::handleFetchResult(const Value& answer) { mergeAfterFetch(answer, Completeness::Complete); }

Task<ObjectPtr> Object::fetchAsync() {
  const auto sessionToken = currentSessionToken();
  const ObjectPtr self = selfPtr();
  return taskQueue_.enqueue([&](const Task<void>& awaited) {
    if (!objectId())
      throw platform::InvalidArgumentException("Can't refresh an object that hasn't been saved to the server.");
    return awaited
        .continueWith([self, sessionToken](const Task<void>&) {
          return requireObjectTransport()->refresh(self, sessionToken);
        })
        .onSuccess([self](const Task<Value>& answer) {
          self->handleFetchResult(answer.result());
          return self;
        });
  });
}

Task<ObjectPtr> Object::fetchIfNeededAsync() {
  if (isDataAvailable()) return Task<ObjectPtr>::taskWithResult(selfPtr());
  return fetchAsync();
}

ObjectPtr Object::fetch(std::optional<platform::Error>* error) { return fetchAsync().waitForResult(error); }
ObjectPtr Object::refresh(std::optional<platform::Error>* error) { return fetch(error); }
ObjectPtr Object::fetchIfNeeded(std::optional<platform::Error>* error) {
  return fetchIfNeededAsync().waitForResult(error);
}

void Object::fetchInBackground(ObjectCallback callback) {
  fetchAsync().thenCallBackOnMainThreadAsync(std::move(callback));
}
void Object::refreshInBackground(ObjectCallback callback) { fetchInBackground(std::move(callback)); }
void Object::fetchIfNeededInBackground(ObjectCallback callback) {
  fetchIfNeededAsync().thenCallBackOnMainThreadAsync(std::move(callback));
}

Task<std::vector<ObjectPtr>> Object::fetchAllAsync(const std::vector<ObjectPtr>& objects) {
  return fetchAllAsync(objects, false);
}

Task<std::vector<ObjectPtr>> Object::fetchAllIfNeededAsync(const std::vector<ObjectPtr>& objects) {
  return fetchAllAsync(objects, true);
}

Task<std::vector<ObjectPtr>> Object::fetchAllAsync(const std::vector<ObjectPtr>& objects, bool onlyIfNeeded) {
  using Objects = std::vector<ObjectPtr>;
  if (objects.empty()) return Task<Objects>::taskWithResult(objects);
  const std::string className = objects.front()->backendClassName();
  std::set<std::string> ids;
  for (const auto& object : objects) {
    if (object->backendClassName() != className)
      throw platform::InternalInconsistencyException("All object should be in the same class");
    auto id = object->objectId();
    if (!id) throw platform::InternalInconsistencyException("All objects must exist on the server");
    if (!onlyIfNeeded || !object->isDataAvailable()) ids.insert(*id);
  }
  // Everything already here: nothing to ask for.
  if (ids.empty()) return Task<Objects>::taskWithResult(objects);

  auto query = Query::queryWithClassName(className);
  query->whereKeyContainedIn("objectId", platform::Array(ids.begin(), ids.end()));
  query->setLimit(static_cast<long long>(ids.size()));
  return enqueueForObjects<Objects>(objects, [=](const Task<void>& awaited) {
    return query->findAsync(kCachePolicyIgnoreCache, awaited)
        .onSuccess([objects, onlyIfNeeded](const Task<Objects>& answer) {
          std::map<std::string, ObjectPtr, std::less<>> found;
          for (const auto& fetched : answer.result()) {
            if (auto id = fetched->objectId()) found.emplace(*id, fetched);
          }
          for (const auto& object : objects) {
            if (onlyIfNeeded && object->isDataAvailable()) continue;
            auto match = found.find(object->objectId().value_or(""));
            if (match == found.end())
              throw platform::InternalInconsistencyException("All objects must exist on the server");
            object->mergeFromObject(*match->second);
            object->setHasBeenFetched(true);
          }
          return objects;
        });
  });
}

std::vector<ObjectPtr> Object::fetchAll(const std::vector<ObjectPtr>& objects, std::optional<platform::Error>* error) {
  return fetchAllAsync(objects).waitForResult(error);
}

std::vector<ObjectPtr> Object::fetchAllIfNeeded(const std::vector<ObjectPtr>& objects,
                                                std::optional<platform::Error>* error) {
  return fetchAllIfNeededAsync(objects).waitForResult(error);
}

void Object::fetchAllInBackground(const std::vector<ObjectPtr>& objects, ObjectsCallback callback) {
  fetchAllAsync(objects).thenCallBackOnMainThreadAsync(std::move(callback));
}

void Object::fetchAllIfNeededInBackground(const std::vector<ObjectPtr>& objects, ObjectsCallback callback) {
  fetchAllIfNeededAsync(objects).thenCallBackOnMainThreadAsync(std::move(callback));
}

}  // namespace backend
