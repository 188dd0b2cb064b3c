#pragma once
// Strings under string keys in a directory, one file per key, with a memory
// layer in front, an age limit applied on each read, and eviction of the
// least recently accessed records beyond a record count and a byte total.
// Thread-safe. Keys that are safe file names ([A-Za-z0-9._-], not starting
// with ".", at most 200 bytes) name their file directly; any other key is
// stored under "%" and the SHA-256 of the key, so no key reaches outside the
// directory.

#include <sys/stat.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/notification_center.hpp"

namespace backend::net {

// The file operations that define a record's times and how it is written.
class KeyValueDiskCacheDelegate {
 public:
  virtual ~KeyValueDiskCacheDelegate() = default;
  // Writes the value atomically; failures leave no record.
  virtual void createDiskCache(const std::filesystem::path& path, const std::string& value);
  // The file's status-change time in whole seconds, or nullopt.
  virtual std::optional<std::time_t> creationTimeOfDiskCache(const std::filesystem::path& path);
  // Reads one byte so that the access time moves.
  virtual void touchDiskCache(const std::filesystem::path& path);
  // The access time from the status (nanoseconds since 1970, for ordering).
  virtual long long accessTimeOfDiskCache(const std::filesystem::path& path, const struct stat& status);
};

// The notification name that empties every cache's memory layer.
inline constexpr const char* kMemoryWarningNotification = "UIApplicationDidReceiveMemoryWarningNotification";

class KeyValueCache {
 public:
  static constexpr std::size_t kDefaultMaxDiskCacheBytes = 10485760;
  static constexpr std::size_t kDefaultMaxDiskCacheRecords = 1000;
  static constexpr std::size_t kDefaultMaxMemCacheBytesPerRecord = 1048576;

  // The shared cache in <caches>/BackendKeyValueCache.
  static KeyValueCache& mainCache();
  // `cacheDir` is a name below the caches directory (see InternalUtils::cacheDir).
  explicit KeyValueCache(std::string cacheDir);
  ~KeyValueCache();
  KeyValueCache(const KeyValueCache&) = delete;
  KeyValueCache& operator=(const KeyValueCache&) = delete;

  // Stores in memory (unless the key is longer than the per-record limit)
  // and writes the file on the background queue (on the caller's thread when
  // not kept in memory). Compacts after the last pending write.
  void setObject(const std::string& value, const std::string& key);
  // The value when it is at most maxAge seconds old (by whole seconds).
  std::optional<std::string> objectForKey(const std::string& key, double maxAge);
  void removeObjectForKey(const std::string& key);
  void removeAllObjects();
  void clearMemCache();
  // Waits for pending writes, then deletes the directory.
  void clearDiskCache();

  void enableMemCache(bool enabled);
  void restoreDefaults();
  // nullptr restores the default strategy.
  void setDiskCacheDelegate(std::shared_ptr<KeyValueDiskCacheDelegate> delegate);
  void setMaxDiskCacheBytes(std::size_t bytes);
  void setMaxDiskCacheRecords(std::size_t records);
  void setMaxMemCacheBytesPerRecord(std::size_t bytes);
  std::size_t maxDiskCacheBytes() const;
  std::size_t maxDiskCacheRecords() const;
  std::size_t maxMemCacheBytesPerRecord() const;

  std::filesystem::path cacheFileForKey(const std::string& key) const;
  // Files in the directory, after pending writes.
  std::size_t diskCacheRecordCount();
  // Blocks until no disk write or touch is pending.
  void waitForDiskFlush();
  void compactDiskCache();

  // The file name a key is stored under.
  static std::string fileNameForKey(const std::string& key);

 private:
  struct Entry {
    std::string value;
    std::time_t creationTime;
  };
  std::filesystem::path directory() const;
  std::shared_ptr<KeyValueDiskCacheDelegate> delegate() const;
  void beginDiskOperation();
  void endDiskOperation(bool compact);
  // Under mutex_: the record's access time is to move, soon, on the
  // background queue.
  void queueTouch(const std::string& key);
  void touchDueRecords();

  std::string cacheDir_;
  mutable std::mutex mutex_;
  bool memEnabled_ = true;
  std::unordered_map<std::string, Entry> memCache_;
  std::list<std::string> touchesDue_;
  std::unordered_map<std::string, std::list<std::string>::iterator> touchIndex_;
  bool touching_ = false;
  std::shared_ptr<KeyValueDiskCacheDelegate> delegate_;
  std::size_t maxDiskBytes_ = kDefaultMaxDiskCacheBytes;
  std::size_t maxDiskRecords_ = kDefaultMaxDiskCacheRecords;
  std::size_t maxMemBytesPerRecord_ = kDefaultMaxMemCacheBytesPerRecord;
  std::mutex flushMutex_;
  std::condition_variable flushDone_;
  std::atomic<long> diskOps_{0};
  platform::ScopedObserver memoryWarning_;
};

// A read-only, shared mapping of a whole file.
class MemoryMappedFile {
 public:
  // nullptr when the file cannot be examined, opened or mapped.
  static std::shared_ptr<MemoryMappedFile> map(const std::filesystem::path& path);
  ~MemoryMappedFile();
  MemoryMappedFile(const MemoryMappedFile&) = delete;
  MemoryMappedFile& operator=(const MemoryMappedFile&) = delete;

  std::string_view data() const noexcept { return {static_cast<const char*>(address_), size_}; }
  std::size_t size() const noexcept { return size_; }

 private:
  MemoryMappedFile(int fd, void* address, std::size_t size) : fd_(fd), address_(address), size_(size) {}
  int fd_;
  void* address_;
  std::size_t size_;
};

}  // namespace backend::net
