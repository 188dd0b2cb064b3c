#pragma once
// Strings under string keys in a directory, one file per key, with a memory
// layer in front, an age limit applied on each read, and eviction of the
// least recently accessed records beyond a record count and a byte total.
// Thread-safe. Keys that are safe file names ([A-Za-z0-9._-], not starting
// with ".", at most 200 bytes) name their file directly; any other key is
// stored under "%" and the SHA-256 of the key, so no key reaches outside the
// directory.

#include <sys/stat.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ctime>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/application_notifications.hpp"
#include "platform/notification_center.hpp"
#include "platform/serial_queue.hpp"

namespace backend::net {

// The file operations that define a record's times and how it is written.
class KeyValueDiskCacheDelegate {
 public:
  virtual ~KeyValueDiskCacheDelegate() = default;
  // Writes the value atomically; false (and no new record) on failure.
  virtual bool createDiskCache(const std::filesystem::path& path, const std::string& value);
  // The file's status-change time in whole seconds, or nullopt.
  virtual std::optional<std::time_t> creationTimeOfDiskCache(const std::filesystem::path& path);
  // The same, from a status already read (a read opens the file once); the
  // path as the read built it.
  virtual std::time_t creationTimeOfDiskCache(std::string_view path, const struct stat& status);
  // Reads one byte so that the access time moves.
  virtual void touchDiskCache(const std::filesystem::path& path);
  // The access time from the status (nanoseconds since 1970, for ordering).
  virtual long long accessTimeOfDiskCache(const std::filesystem::path& path, const struct stat& status);
};

// The notification name that empties every cache's memory layer.
inline constexpr const char* kMemoryWarningNotification = platform::kApplicationDidReceiveMemoryWarningNotification;

// The order of accesses is kept in memory: the file system's access times
// are only the starting order for records written by an earlier run (many
// mounts update them lazily or never). Memory entries exist only for records
// in the index, so a record evicted from disk is never served from memory.
class KeyValueCache {
 public:
  static constexpr std::size_t kDefaultMaxDiskCacheBytes = 10485760;
  static constexpr std::size_t kDefaultMaxDiskCacheRecords = 1000;
  static constexpr std::size_t kDefaultMaxMemCacheBytesPerRecord = 1048576;
  static constexpr std::size_t kDefaultMaxMemCacheBytes = 4194304;
  static constexpr std::size_t kDefaultMaxMemCacheRecords = 1000;
  // Longer keys, and keys that are not plain file names, are stored by hash.
  static constexpr std::size_t kMaxPlainFileName = 200;
  // A record's file is touched at most once in this many seconds.
  static constexpr std::time_t kTouchIntervalSeconds = 60;

  // The shared cache in <caches>/BackendKeyValueCache.
  static KeyValueCache& mainCache();
  // `cacheDir` is a name below the caches directory (see InternalUtils::cacheDir).
  explicit KeyValueCache(std::string cacheDir);
  ~KeyValueCache();
  KeyValueCache(const KeyValueCache&) = delete;
  KeyValueCache& operator=(const KeyValueCache&) = delete;

  // Stores in memory (unless the record is bigger than the per-record limit)
  // and writes the file on the cache's disk queue (waiting for it when not
  // kept in memory). Each write evicts the least recently used records
  // beyond the disk limits.
  void setObject(const std::string& value, const std::string& key);
  // The value when it is at most maxAge seconds old (by whole seconds).
  std::optional<std::string> objectForKey(const std::string& key, double maxAge);
  void removeObjectForKey(const std::string& key);
  void removeAllObjects();
  void clearMemCache();
  // Waits for pending writes, then deletes the directory (and the memory
  // entries of its records).
  void clearDiskCache();

  void enableMemCache(bool enabled);
  void restoreDefaults();
  // nullptr restores the default strategy.
  void setDiskCacheDelegate(std::shared_ptr<KeyValueDiskCacheDelegate> delegate);
  void setMaxDiskCacheBytes(std::size_t bytes);
  void setMaxDiskCacheRecords(std::size_t records);
  void setMaxMemCacheBytesPerRecord(std::size_t bytes);
  void setMaxMemCacheBytes(std::size_t bytes);
  void setMaxMemCacheRecords(std::size_t records);
  std::size_t maxDiskCacheBytes() const;
  std::size_t maxDiskCacheRecords() const;
  std::size_t maxMemCacheBytesPerRecord() const;
  std::size_t maxMemCacheBytes() const;
  std::size_t maxMemCacheRecords() const;

  std::filesystem::path cacheFileForKey(const std::string& key) const;
  // Files in the directory, after pending writes.
  std::size_t diskCacheRecordCount();
  // Blocks until no disk write or touch is pending.
  void waitForDiskFlush();
  // Deletes the least recently used records beyond the limits (after the
  // writes queued before it).
  void compactDiskCache();

  // The file name a key is stored under.
  static std::string fileNameForKey(const std::string& key);

 private:
  struct Record;
  struct MemEntry;
  class RecordFileName;
  class RecordPath;
  using Records = std::list<Record>;
  using MemEntries = std::list<MemEntry>;
  struct MemEntry {
    std::string key;
    std::string value;
    std::time_t creationTime;
    Records::iterator record;
  };
  // A record on disk (or about to be), most recently used first.
  struct Record {
    std::string fileName;
    std::uintmax_t size;
    std::time_t lastTouch;
    std::uint64_t lastAccess;
    MemEntries::iterator memory;  // memEntries_.end() when not in memory
    std::size_t touchSlot;        // its place in touchesDue_, or kNotDue
  };
  static constexpr std::size_t kNotDue = static_cast<std::size_t>(-1);

  // The directory, resolved once per sandbox root (reads need no look-up).
  std::filesystem::path directory() const;
  const std::filesystem::path& resolvedDirectory(std::uint64_t rootGeneration) const;
  // The record's full path; false when it would be too long.
  bool recordPath(const RecordFileName& name, RecordPath& path) const;
  // The directory, created when missing; nullopt when the name is invalid.
  std::optional<std::filesystem::path> directoryForWriting() const;
  std::shared_ptr<KeyValueDiskCacheDelegate> delegate() const;
  void beginDiskOperation();
  void endDiskOperation();
  // Runs `step` on the disk queue and waits for it.
  void runOnDiskQueue(std::function<void()> step);

  // Disk steps, on the disk queue.
  void writeRecord(const std::string& fileName, const std::string& value);
  void touchDueRecords();
  void evictBeyondLimits(const std::filesystem::path& records);
  void loadIndex(const std::filesystem::path& records);
  void deleteRecordFile(const std::filesystem::path& records, const std::string& fileName);
  // A read that missed memory: one open, fstat and read.
  std::optional<std::string> readRecord(const std::string& key, double maxAge, std::time_t now,
                                        KeyValueDiskCacheDelegate& strategy);

  // Under mutex_.
  Records::iterator useRecord(std::string_view fileName, std::uintmax_t size, std::time_t now);
  void eraseRecord(Records::iterator record);
  void forgetRecord(std::string_view fileName);
  void putInMemory(const std::string& key, std::string value, std::time_t creationTime, Records::iterator record);
  void eraseFromMemory(MemEntries::iterator entry);
  void shrinkMemory();
  // True when the touch starts a batch (the caller posts it).
  bool queueTouch(Records::iterator record, std::time_t now);
  void resetIndex();

  std::string cacheDir_;
  bool isMain_ = false;
  mutable std::mutex mutex_;
  bool memEnabled_ = true;
  Records records_;
  std::unordered_map<std::string_view, Records::iterator> recordIndex_;
  std::uintmax_t diskBytes_ = 0;
  MemEntries memEntries_;
  std::unordered_map<std::string_view, MemEntries::iterator> memIndex_;
  std::size_t memBytes_ = 0;
  std::vector<Records::iterator> touchesDue_;
  std::uint64_t accessCount_ = 0;
  // The directory whose files the index describes (empty until loaded).
  std::filesystem::path indexedDirectory_;
  mutable std::mutex directoryMutex_;
  mutable std::uint64_t resolvedGeneration_ = 0;
  mutable std::filesystem::path resolvedDirectory_;
  // resolvedDirectory_ and a separator, ready for a file name.
  mutable std::string resolvedPrefix_;
  std::shared_ptr<KeyValueDiskCacheDelegate> delegate_;
  std::size_t maxDiskBytes_ = kDefaultMaxDiskCacheBytes;
  std::size_t maxDiskRecords_ = kDefaultMaxDiskCacheRecords;
  std::size_t maxMemBytesPerRecord_ = kDefaultMaxMemCacheBytesPerRecord;
  std::size_t maxMemBytes_ = kDefaultMaxMemCacheBytes;
  std::size_t maxMemRecords_ = kDefaultMaxMemCacheRecords;
  std::mutex flushMutex_;
  std::condition_variable flushDone_;
  long diskOps_ = 0;
  std::unique_ptr<platform::SerialQueue> diskQueue_;
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
