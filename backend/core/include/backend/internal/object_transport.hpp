#pragma once
// The one way data objects reach the backend service. The object layer
// decides what to send and when (task queues, batches, merging answers); the
// command layer builds the commands and runs them. It installs its
// implementation when the client is configured, so this layer never depends
// on it.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "backend/object.hpp"
#include "backend/task.hpp"

namespace backend {

using SessionToken = std::optional<std::string>;

class ObjectTransport {
 public:
  virtual ~ObjectTransport() = default;

  // Now: through the retrying runner. Eventually: handed to the offline
  // command queue, completed when the queue finally sent or dropped it.
  enum class Delivery { Now, Eventually };

  // Every member answers the "result" of the server's answer (already
  // decoded), or fails with the runner's error. Building a command may raise
  // (for example an unsaved child where none may be); the raise happens
  // inside the returned task only when the caller runs this in a
  // continuation.

  // The "create" (no object id yet) or "update" command of the changes.
  virtual Task<Value> save(const ObjectPtr& object, const OperationSet& changes, const SessionToken& token,
                           Delivery delivery) = 0;
  // The "get" command of a saved object.
  virtual Task<Value> refresh(const ObjectPtr& object, const SessionToken& token) = 0;
  // The "delete" command. Now: an object never saved sends nothing and
  // answers nil at once. Eventually: such an object is sent with empty data.
  virtual Task<Value> remove(const ObjectPtr& object, const SessionToken& token, Delivery delivery) = 0;
  // One "multi" of the save commands, sent once through the network runner;
  // the answer is a list parallel to `saves`.
  virtual Task<Value> saveBatch(const std::vector<std::pair<ObjectPtr, OperationSet>>& saves,
                                const SessionToken& token) = 0;
  // One "multi" of the delete commands of the objects that have an object id,
  // sent once through the network runner; nothing is sent (nil at once) when
  // none has one.
  virtual Task<Value> deleteBatch(const std::vector<ObjectPtr>& objects, const SessionToken& token) = 0;
};

// Installs the process-wide transport (nullptr removes it). Thread-safe.
void setObjectTransport(std::shared_ptr<ObjectTransport> transport);
// The installed transport; raises InternalInconsistencyException "You have
// to call setApplicationId:clientKey: on Backend to configure Backend." when
// there is none.
std::shared_ptr<ObjectTransport> requireObjectTransport();

}  // namespace backend
