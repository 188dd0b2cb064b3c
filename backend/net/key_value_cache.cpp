#include "backend/net/key_value_cache.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/sha.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
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

constexpr auto kFileNameCharacters = [] {
  std::array<bool, 256> allowed{};
  for (int c = 0; c < 256; ++c) {
    allowed[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                 c == '-';
  }
  return allowed;
}();

bool isSafeFileName(std::string_view key) {
  if (key.empty() || key.size() > KeyValueCache::kMaxPlainFileName || key.front() == '.') return false;
  return std::all_of(key.begin(), key.end(), [](unsigned char c) { return kFileNameCharacters[c]; });
}

// Reads `size` bytes (fewer when the file is shorter now).
std::optional<std::string> readOpenFile(int fd, std::size_t size) {
  std::string text(size, '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  text.resize(got);
  return text;
}

}  // namespace

// Built on the stack: a read that misses memory allocates nothing but its result.
class KeyValueCache::RecordFileName {
 public:
  explicit RecordFileName(std::string_view key);
  std::string_view view() const noexcept { return {text_, size_}; }

 private:
  char text_[std::max<std::size_t>(kMaxPlainFileName, 1 + 2 * SHA256_DIGEST_LENGTH)];
  std::size_t size_ = 0;
};

class KeyValueCache::RecordPath {
 public:
  bool assign(std::string_view directoryPrefix, std::string_view fileName) noexcept {
    if (directoryPrefix.size() + fileName.size() >= sizeof text_) return false;
    std::memcpy(text_, directoryPrefix.data(), directoryPrefix.size());
    std::memcpy(text_ + directoryPrefix.size(), fileName.data(), fileName.size());
    size_ = directoryPrefix.size() + fileName.size();
    text_[size_] = '\0';
    return true;
  }
  const char* c_str() const noexcept { return text_; }
  std::string_view view() const noexcept { return {text_, size_}; }

 private:
  char text_[PATH_MAX];
  std::size_t size_ = 0;
};

KeyValueCache::RecordFileName::RecordFileName(std::string_view key) {
  if (isSafeFileName(key)) {
    std::memcpy(text_, key.data(), key.size());
    size_ = key.size();
    return;
  }
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(key.data()), key.size(), digest);
  static constexpr char kHex[] = "0123456789abcdef";
  text_[size_++] = '%';
  for (unsigned char byte : digest) {
    text_[size_++] = kHex[byte >> 4];
    text_[size_++] = kHex[byte & 0xF];
  }
}

bool KeyValueDiskCacheDelegate::createDiskCache(const std::filesystem::path& path, const std::string& value) {
  // A lost record only costs a fetch, so the directory is not synced.
  return !platform::replaceFileAtomically(path, value);
}

std::optional<std::time_t> KeyValueDiskCacheDelegate::creationTimeOfDiskCache(const std::filesystem::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return creationTimeOfDiskCache(path.native(), status);
}

std::time_t KeyValueDiskCacheDelegate::creationTimeOfDiskCache(std::string_view, const struct stat& status) {
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
  RecordFileName name(key);
  return std::string(name.view());
}

KeyValueCache& KeyValueCache::mainCache() {
  static KeyValueCache cache("../BackendKeyValueCache/");
  static const bool marked = (cache.isMain_ = true);
  (void)marked;
  return cache;
}

KeyValueCache::KeyValueCache(std::string cacheDir)
    : cacheDir_(std::move(cacheDir)),
      delegate_(std::make_shared<KeyValueDiskCacheDelegate>()),
      // The pool its steps run on is made first, so that it is destroyed
      // after a cache that lives until exit: the last writes must still run.
      diskQueue_(std::make_unique<platform::SerialQueue>(InternalUtils::backgroundQueue())) {
  auto& center = platform::NotificationCenter::defaultCenter();
  memoryWarning_ = platform::ScopedObserver(
      center, center.addObserver(kMemoryWarningNotification, [this](const platform::Notification&) { clearMemCache(); }));
}

KeyValueCache::~KeyValueCache() {
  memoryWarning_.reset();
  // Queued steps refer to this object.
  waitForDiskFlush();
  diskQueue_.reset();
  if (isMain_) platform::log("WARNING! Deallocating global cache!");
}

std::filesystem::path KeyValueCache::directory() const {
  const auto generation = platform::Sandbox::rootGeneration();
  std::lock_guard lock(directoryMutex_);
  return resolvedDirectory(generation);
}

// directoryMutex_ held. Looked up again only after the sandbox root moved or
// the directory was deleted.
const std::filesystem::path& KeyValueCache::resolvedDirectory(std::uint64_t generation) const {
  if (resolvedDirectory_.empty() || generation != resolvedGeneration_) {
    resolvedDirectory_ = InternalUtils::cacheDir(cacheDir_);
    resolvedPrefix_ = resolvedDirectory_.native() + '/';
    resolvedGeneration_ = generation;
  }
  return resolvedDirectory_;
}

std::optional<std::filesystem::path> KeyValueCache::directoryForWriting() const {
  const auto generation = platform::Sandbox::rootGeneration();
  try {
    auto records = InternalUtils::cacheDir(cacheDir_);
    std::lock_guard lock(directoryMutex_);
    resolvedDirectory_ = records;
    resolvedPrefix_ = records.native() + '/';
    resolvedGeneration_ = generation;
    return records;
  } catch (const std::exception& error) {
    platform::log(std::string("Key-value cache without a directory: ") + error.what());
    return std::nullopt;
  }
}

bool KeyValueCache::recordPath(const RecordFileName& name, RecordPath& path) const {
  const auto generation = platform::Sandbox::rootGeneration();
  std::lock_guard lock(directoryMutex_);
  resolvedDirectory(generation);
  return path.assign(resolvedPrefix_, name.view());
}

std::shared_ptr<KeyValueDiskCacheDelegate> KeyValueCache::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_;
}

std::filesystem::path KeyValueCache::cacheFileForKey(const std::string& key) const {
  return directory() / RecordFileName(key).view();
}

void KeyValueCache::beginDiskOperation() {
  std::lock_guard lock(flushMutex_);
  ++diskOps_;
}

void KeyValueCache::endDiskOperation() {
  // Notified under the lock: a waiter that then returns (and may destroy the
  // cache) cannot do so while this thread still uses it.
  std::lock_guard lock(flushMutex_);
  if (--diskOps_ == 0) flushDone_.notify_all();
}

void KeyValueCache::runOnDiskQueue(std::function<void()> step) {
  std::mutex doneMutex;
  std::condition_variable doneCondition;
  bool done = false;
  diskQueue_->post([&] {
    step();
    std::lock_guard lock(doneMutex);
    done = true;
    doneCondition.notify_one();
  });
  std::unique_lock lock(doneMutex);
  doneCondition.wait(lock, [&] { return done; });
}

void KeyValueCache::setObject(const std::string& value, const std::string& key) {
  std::string fileName = fileNameForKey(key);
  const std::time_t now = nowSeconds();
  bool inMemory = false;
  {
    std::lock_guard lock(mutex_);
    auto record = useRecord(fileName, value.size(), now);
    // The record's whole size counts: a huge answer must not sit in memory.
    if (memEnabled_ && key.size() + value.size() <= maxMemBytesPerRecord_) {
      putInMemory(key, value, now, record);
      inMemory = true;
    } else if (record->memory != memEntries_.end()) {
      // An older value left in memory would be read instead of this one.
      eraseFromMemory(record->memory);
    }
  }
  if (!inMemory) {
    runOnDiskQueue([&] { writeRecord(fileName, value); });
    return;
  }
  beginDiskOperation();
  diskQueue_->post([this, fileName = std::move(fileName), value] {
    writeRecord(fileName, value);
    endDiskOperation();
  });
}

void KeyValueCache::writeRecord(const std::string& fileName, const std::string& value) {
  auto records = directoryForWriting();
  if (!records) {
    forgetRecord(fileName);
    return;
  }
  loadIndex(*records);
  if (!delegate()->createDiskCache(*records / fileName, value)) {
    // No record rather than an older one.
    forgetRecord(fileName);
    deleteRecordFile(*records, fileName);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    // Evicted or removed while the write was queued: on disk again now.
    if (!recordIndex_.contains(fileName)) useRecord(fileName, value.size(), nowSeconds());
  }
  evictBeyondLimits(*records);
}

std::optional<std::string> KeyValueCache::objectForKey(const std::string& key, double maxAge) {
  const std::time_t now = nowSeconds();
  std::optional<std::string> value;
  std::shared_ptr<KeyValueDiskCacheDelegate> strategy;
  bool startTouches = false;
  {
    std::lock_guard lock(mutex_);
    auto found = memIndex_.find(std::string_view(key));
    if (found == memIndex_.end()) {
      strategy = delegate_;
    } else {
      auto entry = found->second;
      if (static_cast<double>(now - entry->creationTime) > maxAge) return std::nullopt;
      memEntries_.splice(memEntries_.begin(), memEntries_, entry);
      auto record = entry->record;
      records_.splice(records_.begin(), records_, record);
      record->lastAccess = ++accessCount_;
      startTouches = queueTouch(record, now);
      value = entry->value;
    }
  }
  if (!value) return readRecord(key, maxAge, now, *strategy);
  if (startTouches) {
    beginDiskOperation();
    diskQueue_->post([this] {
      touchDueRecords();
      endDiskOperation();
    });
  }
  return value;
}

std::optional<std::string> KeyValueCache::readRecord(const std::string& key, double maxAge, std::time_t now,
                                                     KeyValueDiskCacheDelegate& strategy) {
  const RecordFileName fileName(key);
  RecordPath path;
  if (!recordPath(fileName, path)) return std::nullopt;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) forgetRecord(fileName.view());
    return std::nullopt;
  }
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  const std::time_t created = strategy.creationTimeOfDiskCache(path.view(), status);
  if (static_cast<double>(now - created) > maxAge) {
    ::close(fd);
    return std::nullopt;
  }
  auto text = readOpenFile(fd, static_cast<std::size_t>(status.st_size));
  ::close(fd);
  if (!text) return std::nullopt;
  std::lock_guard lock(mutex_);
  auto record = useRecord(fileName.view(), text->size(), now);
  if (memEnabled_ && key.size() + text->size() <= maxMemBytesPerRecord_) putInMemory(key, *text, created, record);
  return text;
}

KeyValueCache::Records::iterator KeyValueCache::useRecord(std::string_view fileName, std::uintmax_t size,
                                                          std::time_t now) {
  if (auto found = recordIndex_.find(fileName); found != recordIndex_.end()) {
    auto record = found->second;
    records_.splice(records_.begin(), records_, record);
    diskBytes_ = diskBytes_ - record->size + size;
    record->size = size;
    record->lastTouch = now;
    record->lastAccess = ++accessCount_;
    return record;
  }
  records_.push_front(Record{std::string(fileName), size, now, ++accessCount_, memEntries_.end(), kNotDue});
  recordIndex_.emplace(std::string_view(records_.front().fileName), records_.begin());
  diskBytes_ += size;
  return records_.begin();
}

void KeyValueCache::eraseRecord(Records::iterator record) {
  if (record->memory != memEntries_.end()) eraseFromMemory(record->memory);
  if (record->touchSlot != kNotDue) {
    auto last = touchesDue_.back();
    touchesDue_[record->touchSlot] = last;
    last->touchSlot = record->touchSlot;
    touchesDue_.pop_back();
  }
  diskBytes_ -= record->size;
  recordIndex_.erase(std::string_view(record->fileName));
  records_.erase(record);
}

void KeyValueCache::forgetRecord(std::string_view fileName) {
  std::lock_guard lock(mutex_);
  if (auto found = recordIndex_.find(fileName); found != recordIndex_.end()) {
    eraseRecord(found->second);
  }
}

void KeyValueCache::putInMemory(const std::string& key, std::string value, std::time_t creationTime,
                                Records::iterator record) {
  if (record->memory != memEntries_.end()) {
    auto entry = record->memory;
    memBytes_ = memBytes_ - entry->value.size() + value.size();
    entry->value = std::move(value);
    entry->creationTime = creationTime;
    memEntries_.splice(memEntries_.begin(), memEntries_, entry);
  } else {
    memBytes_ += key.size() + value.size();
    memEntries_.push_front(MemEntry{key, std::move(value), creationTime, record});
    memIndex_.emplace(std::string_view(memEntries_.front().key), memEntries_.begin());
    record->memory = memEntries_.begin();
  }
  shrinkMemory();
}

void KeyValueCache::eraseFromMemory(MemEntries::iterator entry) {
  entry->record->memory = memEntries_.end();
  memBytes_ -= entry->key.size() + entry->value.size();
  memIndex_.erase(std::string_view(entry->key));
  memEntries_.erase(entry);
}

void KeyValueCache::shrinkMemory() {
  while (!memEntries_.empty() && (memEntries_.size() > maxMemRecords_ || memBytes_ > maxMemBytes_)) {
    eraseFromMemory(std::prev(memEntries_.end()));
  }
}

bool KeyValueCache::queueTouch(Records::iterator record, std::time_t now) {
  if (record->touchSlot != kNotDue || now - record->lastTouch < kTouchIntervalSeconds) return false;
  record->touchSlot = touchesDue_.size();
  touchesDue_.push_back(record);
  return touchesDue_.size() == 1;
}

void KeyValueCache::touchDueRecords() {
  std::vector<std::pair<std::uint64_t, std::string>> due;
  {
    std::lock_guard lock(mutex_);
    const std::time_t now = nowSeconds();
    for (auto record : touchesDue_) {
      record->touchSlot = kNotDue;
      record->lastTouch = now;
      due.emplace_back(record->lastAccess, record->fileName);
    }
    touchesDue_.clear();
  }
  if (due.empty()) return;
  // In the order of the last reads, so the access times the next run starts
  // from keep that order.
  std::sort(due.begin(), due.end());
  auto records = directoryForWriting();
  if (!records) return;
  auto strategy = delegate();
  for (const auto& [access, fileName] : due) strategy->touchDiskCache(*records / fileName);
}

void KeyValueCache::loadIndex(const std::filesystem::path& records) {
  {
    std::lock_guard lock(mutex_);
    if (indexedDirectory_ == records) return;
  }
  struct Found {
    long long accessTime;
    std::string fileName;
    std::uintmax_t size;
  };
  std::vector<Found> found;
  auto strategy = delegate();
  if (DIR* listing = ::opendir(records.c_str())) {
    const int fd = ::dirfd(listing);
    while (const dirent* entry = ::readdir(listing)) {
      // Skips ".", ".." and the temporary files of writes in progress.
      if (entry->d_name[0] == '.') continue;
      struct stat status {};
      if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode)) continue;
      found.push_back({strategy->accessTimeOfDiskCache(records / entry->d_name, status), entry->d_name,
                       static_cast<std::uintmax_t>(status.st_size)});
    }
    ::closedir(listing);
  }
  // Most recent first, so that appending leaves the oldest last.
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.accessTime > b.accessTime; });
  std::lock_guard lock(mutex_);
  // Another directory's records (the sandbox moved) say nothing about this one.
  if (!indexedDirectory_.empty()) resetIndex();
  indexedDirectory_ = records;
  for (auto& file : found) {
    // Records used by this run already have their place.
    if (recordIndex_.contains(std::string_view(file.fileName))) continue;
    records_.push_back(Record{std::move(file.fileName), file.size, 0, 0, memEntries_.end(), kNotDue});
    recordIndex_.emplace(std::string_view(records_.back().fileName), std::prev(records_.end()));
    diskBytes_ += file.size;
  }
}

void KeyValueCache::evictBeyondLimits(const std::filesystem::path& records) {
  std::vector<std::string> victims;
  {
    std::lock_guard lock(mutex_);
    while (!records_.empty() && (records_.size() > maxDiskRecords_ || diskBytes_ > maxDiskBytes_)) {
      auto oldest = std::prev(records_.end());
      victims.push_back(oldest->fileName);
      eraseRecord(oldest);
    }
  }
  for (const auto& fileName : victims) deleteRecordFile(records, fileName);
}

void KeyValueCache::deleteRecordFile(const std::filesystem::path& records, const std::string& fileName) {
  ::unlink((records / fileName).c_str());
}

void KeyValueCache::resetIndex() {
  touchesDue_.clear();
  memIndex_.clear();
  memEntries_.clear();
  memBytes_ = 0;
  recordIndex_.clear();
  records_.clear();
  diskBytes_ = 0;
  indexedDirectory_.clear();
}

void KeyValueCache::removeObjectForKey(const std::string& key) {
  const std::string fileName = fileNameForKey(key);
  forgetRecord(fileName);
  // After any write of it still queued, which would bring the record back.
  runOnDiskQueue([&] {
    forgetRecord(fileName);
    if (auto records = directoryForWriting()) deleteRecordFile(*records, fileName);
  });
}

void KeyValueCache::removeAllObjects() {
  clearMemCache();
  clearDiskCache();
}

void KeyValueCache::clearMemCache() {
  std::lock_guard lock(mutex_);
  for (auto& entry : memEntries_) entry.record->memory = memEntries_.end();
  memIndex_.clear();
  memEntries_.clear();
  memBytes_ = 0;
}

void KeyValueCache::clearDiskCache() {
  waitForDiskFlush();
  runOnDiskQueue([this] {
    std::error_code ignored;
    std::filesystem::remove_all(directory(), ignored);
    {
      std::lock_guard lock(directoryMutex_);
      resolvedDirectory_.clear();
    }
    std::lock_guard lock(mutex_);
    resetIndex();
  });
}

void KeyValueCache::enableMemCache(bool enabled) {
  if (!enabled) clearMemCache();
  std::lock_guard lock(mutex_);
  memEnabled_ = enabled;
}

void KeyValueCache::restoreDefaults() {
  std::lock_guard lock(mutex_);
  memEnabled_ = true;
  maxDiskBytes_ = kDefaultMaxDiskCacheBytes;
  maxDiskRecords_ = kDefaultMaxDiskCacheRecords;
  maxMemBytesPerRecord_ = kDefaultMaxMemCacheBytesPerRecord;
  maxMemBytes_ = kDefaultMaxMemCacheBytes;
  maxMemRecords_ = kDefaultMaxMemCacheRecords;
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
void KeyValueCache::setMaxMemCacheBytes(std::size_t bytes) {
  std::lock_guard lock(mutex_);
  maxMemBytes_ = bytes;
  shrinkMemory();
}
void KeyValueCache::setMaxMemCacheRecords(std::size_t records) {
  std::lock_guard lock(mutex_);
  maxMemRecords_ = records;
  shrinkMemory();
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
std::size_t KeyValueCache::maxMemCacheBytes() const {
  std::lock_guard lock(mutex_);
  return maxMemBytes_;
}
std::size_t KeyValueCache::maxMemCacheRecords() const {
  std::lock_guard lock(mutex_);
  return maxMemRecords_;
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
  flushDone_.wait(lock, [this] { return diskOps_ <= 0; });
}

void KeyValueCache::compactDiskCache() {
  runOnDiskQueue([this] {
    if (auto records = directoryForWriting()) {
      loadIndex(*records);
      evictBeyondLimits(*records);
    }
  });
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
