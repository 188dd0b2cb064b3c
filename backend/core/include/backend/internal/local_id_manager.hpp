#pragma once
// The seam to the local-id manager of the offline command queue: local ids
// stand for objects that have no server id yet, and the manager maps them to
// the ids the server assigns later. The offline-queue layer installs the
// process-wide manager; until then the operations that need one raise.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace backend {

// Every local id starts with this.
inline constexpr std::string_view kLocalIdPrefix = "local_";

class LocalIdManager {
 public:
  virtual ~LocalIdManager() = default;
  // A new local id ("local_" and 16 hexadecimal digits).
  virtual std::string createLocalId() = 0;
  // The object id the server assigned for a local id, if known.
  virtual std::optional<std::string> objectIdForLocalId(std::string_view localId) = 0;
  // Records that a local id now means an object id.
  virtual void setObjectIdForLocalId(std::string_view objectId, std::string_view localId) = 0;
};

// Installs the process-wide manager (nullptr removes it). Thread-safe.
void setLocalIdManager(std::shared_ptr<LocalIdManager> manager);
// The installed manager, or nullptr.
std::shared_ptr<LocalIdManager> localIdManager();
// The installed manager; raises InternalInconsistencyException "No local id
// manager is installed." when there is none.
std::shared_ptr<LocalIdManager> requireLocalIdManager();

}  // namespace backend
