#pragma once
// Local ids kept on disk: hands out "local_" + 16 hexadecimal digits for
// objects that have no server id yet, counts in one file per id how many
// stored offline commands still refer to it, and maps each id to the object
// id the server assigned (in memory for the process, on disk while the id is
// referenced). Thread-safe: every operation runs under the manager's lock.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "backend/internal/local_id_manager.hpp"

namespace backend::net {

class DiskLocalIdManager final : public backend::LocalIdManager {
 public:
  // The manager of the current private directory ("<private dir>/LocalId").
  // Created on first use and kept; a new one replaces it only when the
  // sandbox root has moved since (tests), earlier holders keep theirs.
  static std::shared_ptr<DiskLocalIdManager> defaultInstance();
  // Makes it the process-wide manager and routes the offline queue's disk
  // references (retain/release of stored commands) to it. Done at every
  // backend configuration.
  static void installDefaultInstance();

  // Creates `diskPath` (logged "Unable to create directories for local id
  // storage. <why>" when that fails).
  explicit DiskLocalIdManager(std::filesystem::path diskPath);

  // True for exactly 22 characters: "local_" and 16 hexadecimal digits of
  // either case.
  static bool isLocalId(std::string_view text);

  // A new id from 64 random bits. Raises InternalInconsistencyException
  // "Generated an invalid local id: \"<id>\"." should it not be valid.
  std::string createLocalId() override;

  // The operations below raise InternalInconsistencyException "Tried to get
  // invalid local id: \"<id>\"." for a string that is not a local id.

  // One more / one fewer stored command refers to the id; the entry file is
  // deleted when no reference is left. Entry files are replaced atomically.
  void retainLocalIdOnDisk(std::string_view localId);
  void releaseLocalIdOnDisk(std::string_view localId);
  // Remembered for the process; written to the entry while it is referenced.
  void setObjectIdForLocalId(std::string_view objectId, std::string_view localId) override;
  // From memory, else from the entry file.
  std::optional<std::string> objectIdForLocalId(std::string_view localId) override;

  // Forgets everything, in memory and on disk; true when an entry file existed.
  bool clear();
  void clearInMemoryCache();

  const std::filesystem::path& diskPath() const noexcept { return diskPath_; }

 private:
  struct MapEntry {
    std::optional<std::string> objectId;
    long long referenceCount = 0;
  };

  static void checkLocalId(std::string_view localId);
  std::filesystem::path entryPath(std::string_view localId) const;
  MapEntry getMapEntry(std::string_view localId);
  void putMapEntry(std::string_view localId, const MapEntry& entry);

  const std::filesystem::path diskPath_;
  std::mutex mutex_;
  std::map<std::string, std::string, std::less<>> inMemoryCache_;
  std::mt19937_64 random_;
};

}  // namespace backend::net
