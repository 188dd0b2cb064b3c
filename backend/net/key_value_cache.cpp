#include "backend/net/key_value_cache.hpp"

#include <fcntl.h>
#include <openssl/sha.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <list>
#include <vector>

#include "backend/internal/internal_utils.hpp"
#include "platform/clock.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"

namespace backend::net {
namespace {

std::time_t nowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(platform::clock().now().time_since_epoch()).count();
}

bool isSafeFileName(const std::string& key) {
  if (key.empty() || key.size() > 200 || key.front() == '.') return false;
  return std::all_of(key.begin(), key.end(), [](unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
  });
}

}  // namespace

void KeyValueDiskCacheDelegate::createDiskCache(const std::filesystem::path& path, const std::string& value) {
  platform::writeFileAtomically(path, value);
}

std::optional<std::time_t> KeyValueDiskCacheDelegate::creationTimeOfDiskCache(const std::filesystem::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return status.st_ctime;
}

void KeyValueDiskCacheDelegate::touchDiskCache(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char byte;
  [[maybe_unused]] auto ignored = ::read(fd, &byte, 1);
  ::close(fd);
}

long long KeyValueDiskCacheDelegate::accessTimeOfDiskCache(const std::filesystem::path&, const struct stat& status) {
  return static_cast<long long>(status.st_atim.tv_sec) * 1000000000LL + status.st_atim.tv_nsec;
}

std::string KeyValueCache::fileNameForKey(const std::string& key) {
  if (isSafeFileName(key)) return key;
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(key.data()), key.size(), digest);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = "%";
  for (unsigned char byte : digest) {
    name.push_back(kHex[byte >> 4]);
    name.push_back(kHex[byte & 0xF]);
  }
  return name;
}

KeyValueCache& KeyValueCache::mainCache() {
  static KeyValueCache cache("../BackendKeyValueCache/");
  return cache;
}

KeyValueCache::KeyValueCache(std::string cacheDir)
    : cacheDir_(std::move(cacheDir)), delegate_(std::make_shared<KeyValueDiskCacheDelegate>()) {
  // The queue its writes run on is made first, so that it is destroyed after
  // a cache that lives until exit: the last writes must still run then.
  InternalUtils::backgroundQueue();
  auto& center = platform::NotificationCenter::defaultCenter();
  memoryWarning_ = platform::ScopedObserver(
      center, center.addObserver(kMemoryWarningNotification, [this](const platform::Notification&) { clearMemCache(); }));
}

KeyValueCache::~KeyValueCache() {
  memoryWarning_.reset();
  // Background writes refer to this object.
  waitForDiskFlush();
  if (this == &mainCache()) platform::log("WARNING! Deallocating global cache!");
}

std::filesystem::path KeyValueCache::directory() const { return InternalUtils::cacheDir(cacheDir_); }

std::shared_ptr<KeyValueDiskCacheDelegate> KeyValueCache::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

std::filesystem::path KeyValueCache::cacheFileForKey(const std::string& key) const {
  return directory() / fileNameForKey(key);
}

void KeyValueCache::beginDiskOperation() { diskOps_.fetch_add(1); }

void KeyValueCache::endDiskOperation(bool compact) {
  {
    std::lock_guard lock(flushMutex_);
    if (diskOps_.load() > 1) {
      diskOps_.fetch_sub(1);
      return;
    }
  }
  // Still counted while compacting, so waiters wake after it.
  if (compact) compactDiskCache();
  // The count reaches zero under the lock: a waiter that then returns (and
  // may destroy the cache) cannot do so while this thread still uses it.
  std::lock_guard lock(flushMutex_);
  if (diskOps_.fetch_sub(1) == 1) flushDone_.notify_all();
}

void KeyValueCache::setObject(const std::string& value, const std::string& key) {
  bool inMemory = false;
  {
    std::lock_guard lock(mutex_);
    // The record's whole size counts: a huge answer must not sit in memory.
    if (memEnabled_ && key.size() + value.size() <= maxMemBytesPerRecord_) {
      memCache_[key] = Entry{value, nowSeconds()};
      inMemory = true;
    } else {
      // An older value left in memory would be read instead of this one.
      memCache_.erase(key);
    }
  }
  beginDiskOperation();
  auto write = [this, value, key] {
    delegate()->createDiskCache(cacheFileForKey(key), value);
    endDiskOperation(true);
  };
  if (inMemory) InternalUtils::backgroundQueue().post(std::move(write));
  else write();
}

std::optional<std::string> KeyValueCache::objectForKey(const std::string& key, double maxAge) {
  {
    std::lock_guard lock(mutex_);
    auto it = memCache_.find(key);
    if (it != memCache_.end()) {
      if (static_cast<double>(nowSeconds() - it->second.creationTime) > maxAge) return std::nullopt;
      queueTouch(key);
      return it->second.value;
    }
  }
  auto path = cacheFileForKey(key);
  auto created = delegate()->creationTimeOfDiskCache(path);
  if (!created || static_cast<double>(nowSeconds() - *created) > maxAge) return std::nullopt;
  auto text = platform::readFile(path);
  if (!text) return std::nullopt;
  std::lock_guard lock(mutex_);
  if (memEnabled_ && key.size() + text->size() <= maxMemBytesPerRecord_) memCache_[key] = Entry{*text, *created};
  return text;
}

void KeyValueCache::queueTouch(const std::string& key) {
  // A key read again before its touch ran moves to the end, so the touches
  // keep the order of the last reads.
  if (auto due = touchIndex_.find(key); due != touchIndex_.end()) {
    touchesDue_.splice(touchesDue_.end(), touchesDue_, due->second);
  } else {
    touchIndex_.emplace(key, touchesDue_.insert(touchesDue_.end(), key));
  }
  if (touching_) return;
  // One pending disk operation and one background hop per burst of reads.
  touching_ = true;
  beginDiskOperation();
  InternalUtils::backgroundQueue().post([this] { touchDueRecords(); });
}

void KeyValueCache::touchDueRecords() {
  auto strategy = delegate();
  for (;;) {
    std::list<std::string> due;
    {
      std::lock_guard lock(mutex_);
      if (touchesDue_.empty()) {
        touching_ = false;
        break;
      }
      due.swap(touchesDue_);
      touchIndex_.clear();
    }
    auto records = directory();
    for (const auto& key : due) strategy->touchDiskCache(records / fileNameForKey(key));
  }
  endDiskOperation(false);
}

void KeyValueCache::removeObjectForKey(const std::string& key) {
  {
    std::lock_guard lock(mutex_);
    memCache_.erase(key);
  }
  // A write still pending would bring the record back after the removal.
  waitForDiskFlush();
  std::error_code ignored;
  std::filesystem::remove(cacheFileForKey(key), ignored);
}

void KeyValueCache::removeAllObjects() {
  clearMemCache();
  clearDiskCache();
}

void KeyValueCache::clearMemCache() {
  std::lock_guard lock(mutex_);
  memCache_.clear();
}

void KeyValueCache::clearDiskCache() {
  waitForDiskFlush();
  std::error_code ignored;
  std::filesystem::remove_all(directory(), ignored);
}

void KeyValueCache::enableMemCache(bool enabled) {
  std::lock_guard lock(mutex_);
  memEnabled_ = enabled;
  if (!enabled) memCache_.clear();
}

void KeyValueCache::restoreDefaults() {
  std::lock_guard lock(mutex_);
  memEnabled_ = true;
  maxDiskBytes_ = kDefaultMaxDiskCacheBytes;
  maxDiskRecords_ = kDefaultMaxDiskCacheRecords;
  maxMemBytesPerRecord_ = kDefaultMaxMemCacheBytesPerRecord;
  delegate_ = std::make_shared<KeyValueDiskCacheDelegate>();
}

void KeyValueCache::setDiskCacheDelegate(std::shared_ptr<KeyValueDiskCacheDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = delegate ? std::move(delegate) : std::make_shared<KeyValueDiskCacheDelegate>();
}

void KeyValueCache::setMaxDiskCacheBytes(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  maxDiskBytes_ = bytes;
}
void KeyValueCache::setMaxDiskCacheRecords(std::size_t records) {
  std::lock_guard lock(mutex_);
  maxDiskRecords_ = records;
}
void KeyValueCache::setMaxMemCacheBytesPerRecord(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  maxMemBytesPerRecord_ = bytes;
}
std::size_t KeyValueCache::maxDiskCacheBytes() const {
  std::lock_guard lock(mutex_);
  return maxDiskBytes_;
}
std::size_t KeyValueCache::maxDiskCacheRecords() const {
  std::lock_guard lock(mutex_);
  return maxDiskRecords_;
}
std::size_t KeyValueCache::maxMemCacheBytesPerRecord() const {
  std::lock_guard lock(mutex_);
  return maxMemBytesPerRecord_;
}

std::size_t KeyValueCache::diskCacheRecordCount() {
  waitForDiskFlush();
  std::error_code error;
  std::size_t count = 0;
  for (std::filesystem::directory_iterator it(directory(), error), end; !error && it != end; it.increment(error)) ++count;
  return count;
}

void KeyValueCache::waitForDiskFlush() {
  std::unique_lock lock(flushMutex_);
  flushDone_.wait(lock, [this] { return diskOps_.load() <= 0; });
}

void KeyValueCache::compactDiskCache() {
  struct Note {
    std::filesystem::path path;
    long long accessTime;
    std::uintmax_t size;
  };
  auto strategy = delegate();
  std::vector<Note> notes;
  std::uintmax_t total = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator it(directory(), error), end; !error && it != end; it.increment(error)) {
    struct stat status {};
    if (::stat(it->path().c_str(), &status) != 0) continue;
    notes.push_back({it->path(), strategy->accessTimeOfDiskCache(it->path(), status),
                     static_cast<std::uintmax_t>(status.st_size)});
    total += static_cast<std::uintmax_t>(status.st_size);
  }
  std::size_t maxRecords = maxDiskCacheRecords();
  std::size_t maxBytes = maxDiskCacheBytes();
  if (notes.size() <= maxRecords && total <= maxBytes) return;
  std::sort(notes.begin(), notes.end(), [](const Note& a, const Note& b) { return a.accessTime < b.accessTime; });
  std::size_t remaining = notes.size();
  for (const auto& note : notes) {
    if (remaining <= maxRecords && total <= maxBytes) break;
    std::error_code ignored;
    std::filesystem::remove(note.path, ignored);
    --remaining;
    total -= note.size;
  }
}

std::shared_ptr<MemoryMappedFile> MemoryMappedFile::map(const std::filesystem::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return nullptr;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto size = static_cast<std::size_t>(status.st_size);
  void* address = nullptr;
  if (size > 0) {
    address = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
      ::close(fd);
      return nullptr;
    }
  }
  return std::shared_ptr<MemoryMappedFile>(new MemoryMappedFile(fd, address, size));
}

MemoryMappedFile::~MemoryMappedFile() {
  if (address_) ::munmap(address_, size_);
  ::close(fd_);
}

}  // namespace backend::net
