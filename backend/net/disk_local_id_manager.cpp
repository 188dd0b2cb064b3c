#include "backend/net/disk_local_id_manager.hpp"

#include <cctype>
#include <cstdio>

#include "backend/internal/internal_utils.hpp"
#include "backend/net/command.hpp"
#include "platform/exceptions.hpp"
#include "platform/json.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"

namespace fs = std::filesystem;

namespace backend::net {
namespace {

constexpr std::size_t kLocalIdLength = 22;

void createDirectory(const fs::path& path) {
  std::error_code error;
  fs::create_directories(path, error);
  if (error) platform::log("Unable to create directories for local id storage. " + error.message());
}

// Whatever cannot be read as an entry counts as no entry.
std::optional<platform::Value> readEntryFile(const fs::path& path) {
  auto text = platform::readFile(path);
  if (!text) return std::nullopt;
  auto parsed = platform::json::parse(*text);
  if (!parsed || !parsed.value().isDictionary()) return std::nullopt;
  return parsed.value();
}

struct DefaultSlot {
  std::mutex mutex;
  fs::path root;
  std::shared_ptr<DiskLocalIdManager> manager;
};

DefaultSlot& defaultSlot() {
  static DefaultSlot slot;
  return slot;
}

}  // namespace

std::shared_ptr<DiskLocalIdManager> DiskLocalIdManager::defaultInstance() {
  auto& slot = defaultSlot();
  std::lock_guard lock(slot.mutex);
  auto root = platform::Sandbox::root();
  if (!slot.manager || slot.root != root) {
    slot.manager = std::make_shared<DiskLocalIdManager>(InternalUtils::privateDataDir() / "LocalId");
    slot.root = root;
  }
  return slot.manager;
}

void DiskLocalIdManager::installDefaultInstance() {
  setLocalIdManager(defaultInstance());
  // The hooks follow whichever manager is installed, so a test's own manager
  // is not bypassed by references counted here.
  auto diskManager = [] { return std::dynamic_pointer_cast<DiskLocalIdManager>(localIdManager()); };
  installLocalIdDiskReferenceHooks({[diskManager](const std::string& localId) {
                                      if (auto manager = diskManager()) manager->retainLocalIdOnDisk(localId);
                                    },
                                    [diskManager](const std::string& localId) {
                                      if (auto manager = diskManager()) manager->releaseLocalIdOnDisk(localId);
                                    }});
}

DiskLocalIdManager::DiskLocalIdManager(fs::path diskPath)
    : diskPath_(std::move(diskPath)), random_(std::random_device{}()) {
  createDirectory(diskPath_);
}

bool DiskLocalIdManager::isLocalId(std::string_view text) {
  if (text.size() != kLocalIdLength || text.substr(0, kLocalIdPrefix.size()) != kLocalIdPrefix) return false;
  for (char c : text.substr(kLocalIdPrefix.size())) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

void DiskLocalIdManager::checkLocalId(std::string_view localId) {
  if (!isLocalId(localId)) {
    throw platform::InternalInconsistencyException("Tried to get invalid local id: \"" + std::string(localId) + "\".");
  }
}

std::string DiskLocalIdManager::createLocalId() {
  std::lock_guard lock(mutex_);
  const auto high = static_cast<std::uint32_t>(random_());
  const auto low = static_cast<std::uint32_t>(random_());
  char text[32];
  std::snprintf(text, sizeof text, "local_%016llx",
                static_cast<unsigned long long>((std::uint64_t{high} << 32) | low));
  if (!isLocalId(text)) {
    throw platform::InternalInconsistencyException("Generated an invalid local id: \"" + std::string(text) + "\".");
  }
  return text;
}

fs::path DiskLocalIdManager::entryPath(std::string_view localId) const { return diskPath_ / std::string(localId); }

DiskLocalIdManager::MapEntry DiskLocalIdManager::getMapEntry(std::string_view localId) {
  checkLocalId(localId);
  MapEntry entry;
  if (auto stored = readEntryFile(entryPath(localId))) {
    const platform::Value count = (*stored)["referenceCount"];
    if (count.isNumber()) entry.referenceCount = count.longLongValue();
    const platform::Value objectId = (*stored)["objectId"];
    if (objectId.isString()) entry.objectId = objectId.asString();
  }
  if (!entry.objectId) {
    auto known = inMemoryCache_.find(localId);
    if (known != inMemoryCache_.end()) {
      entry.objectId = known->second;
      if (entry.referenceCount >= 1) putMapEntry(localId, entry);
    }
  }
  return entry;
}

void DiskLocalIdManager::putMapEntry(std::string_view localId, const MapEntry& entry) {
  checkLocalId(localId);
  platform::Dictionary stored;
  stored.set("referenceCount", entry.referenceCount);
  if (entry.objectId) stored.set("objectId", *entry.objectId);
  // The directory goes with the rest of the private data when the
  // application id changes.
  createDirectory(diskPath_);
  auto path = entryPath(localId);
  if (auto error = platform::writeFileAtomically(path, platform::json::write(platform::Value(std::move(stored))))) {
    platform::log("Unable to write local id entry " + path.string() + ": " + error.message());
  }
}

void DiskLocalIdManager::retainLocalIdOnDisk(std::string_view localId) {
  std::lock_guard lock(mutex_);
  auto entry = getMapEntry(localId);
  ++entry.referenceCount;
  putMapEntry(localId, entry);
}

void DiskLocalIdManager::releaseLocalIdOnDisk(std::string_view localId) {
  std::lock_guard lock(mutex_);
  auto entry = getMapEntry(localId);
  --entry.referenceCount;
  if (entry.referenceCount < 1) {
    std::error_code error;
    fs::remove(entryPath(localId), error);
  } else {
    putMapEntry(localId, entry);
  }
}

void DiskLocalIdManager::setObjectIdForLocalId(std::string_view objectId, std::string_view localId) {
  std::lock_guard lock(mutex_);
  auto entry = getMapEntry(localId);
  if (entry.referenceCount >= 1) {
    entry.objectId = std::string(objectId);
    putMapEntry(localId, entry);
  }
  inMemoryCache_.insert_or_assign(std::string(localId), std::string(objectId));
}

std::optional<std::string> DiskLocalIdManager::objectIdForLocalId(std::string_view localId) {
  std::lock_guard lock(mutex_);
  checkLocalId(localId);
  auto known = inMemoryCache_.find(localId);
  if (known != inMemoryCache_.end()) return known->second;
  return getMapEntry(localId).objectId;
}

bool DiskLocalIdManager::clear() {
  std::lock_guard lock(mutex_);
  inMemoryCache_.clear();
  bool any = false;
  std::error_code error;
  for (fs::directory_iterator it(diskPath_, error), end; !error && it != end; it.increment(error)) any = true;
  fs::remove_all(diskPath_, error);
  createDirectory(diskPath_);
  return any;
}

void DiskLocalIdManager::clearInMemoryCache() {
  std::lock_guard lock(mutex_);
  inMemoryCache_.clear();
}

}  // namespace backend::net
