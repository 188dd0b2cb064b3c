// The queue's life, its settings and the store side: reserving a file name,
// writing the command, making room, removing files.

#include "backend/net/command_cache.hpp"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <random>
#include <vector>

#include "backend/internal/internal_utils.hpp"
#include "backend/internal/local_id_manager.hpp"
#include "command_cache_files.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"
#include "platform/url.hpp"

namespace fs = std::filesystem;

namespace backend::net {
namespace {

std::uint64_t wallClockNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
}

// The stamp in "CommandCache_<16 hex digits>_...", or 0.
std::uint64_t stampOf(const fs::path& path) {
  static constexpr std::string_view kPrefix = "CommandCache_";
  const std::string name = path.filename().string();
  if (name.size() < kPrefix.size() + 16 || name.compare(0, kPrefix.size(), kPrefix) != 0) return 0;
  std::uint64_t stamp = 0;
  for (char c : std::string_view(name).substr(kPrefix.size(), 16)) {
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return 0;
    stamp = stamp * 16 + static_cast<std::uint64_t>(digit);
  }
  return stamp;
}

std::atomic<std::uint32_t> storedCommandCounter{0};

// The text json() writes names every local id it refers to literally, so a
// text without one has no references to count (and need not be parsed).
bool mayReferToLocalIds(std::string_view text) { return text.find(kLocalIdPrefix) != std::string_view::npos; }

// Six characters from [A-Za-z0-9], as a unique-file template would get.
void fillUniqueSuffix(char* suffix) {
  static constexpr char kCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> pick(0, sizeof kCharacters - 2);
  for (int i = 0; i < 6; ++i) suffix[i] = kCharacters[pick(random)];
  suffix[6] = '\0';
}

struct DefaultQueue {
  std::mutex mutex;
  fs::path root;
  std::unique_ptr<CommandCache> current;
  std::vector<std::unique_ptr<CommandCache>> retired;
};

DefaultQueue& defaultQueue() {
  // What a queue uses until it is destroyed must be made first, so that it
  // is destroyed after the queues at exit.
  platform::backgroundQueue();
  platform::reachabilitySource();
  static DefaultQueue queue;
  return queue;
}

}  // namespace

platform::Error commandNotKeptError(const std::string& message) {
  return InternalUtils::errorWithCode(kErrorCommandNotKept, message, false);
}

bool isQueueFileName(const fs::path& path) {
  auto name = path.filename().string();
  return !name.empty() && name.front() != '.';
}

std::vector<fs::path> sortedEntries(const fs::path& directory) {
  std::vector<fs::path> entries;
  std::error_code error;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  std::sort(entries.begin(), entries.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
  return entries;
}

CommandCache& CommandCache::defaultInstance() {
  auto& queue = defaultQueue();
  std::lock_guard lock(queue.mutex);
  auto root = platform::Sandbox::root();
  if (!queue.current || queue.root != root) {
    if (queue.current) {
      // Stopped, not destroyed: the queue's first reading of the flags may still be running.
      if (queue.current->reachability_) queue.current->reachability_->stop();
      queue.current->pause();
      queue.retired.push_back(std::move(queue.current));
    }
    queue.current = std::make_unique<CommandCache>(InternalUtils::privateDataDir() / "Command Cache",
                                                   platform::reachabilitySource());
    queue.root = root;
  }
  return *queue.current;
}

CommandCache::CommandCache(fs::path cachePath, platform::ReachabilitySource& reachability)
    : cachePath_(cachePath.lexically_normal()) {
  wakeup_ = std::make_shared<Wakeup>();
  std::error_code error;
  fs::create_directories(cachePath_, error);
  if (error) platform::log("Unable to create command cache. " + error.message());
  platform::setExcludedFromBackup(cachePath_);

  reachability_ = reachability.createWatcher(platform::ReachabilityTarget::host(platform::hostOf(InternalUtils::baseURL())));
  auto onChange = [this](platform::ReachabilityFlags flags) { applyConnected(InternalUtils::isNetworkAvailable(flags)); };
  if (!reachability_ || !reachability_->start(onChange, blockQueue_)) {
    platform::log("Unable to start listening for network connectivity status.");
  }
  if (reachability_) {
    blockQueue_.post([this] {
      if (auto flags = reachability_->flags()) applyConnected(InternalUtils::isNetworkAvailable(*flags));
    });
  }
  resume();
}

CommandCache::~CommandCache() {
  if (reachability_) reachability_->stop();
  pause();
  waitForStores();
  reachability_.reset();
}

Task<CommandResult> CommandCache::runEventuallyAsync(const CommandPtr& command, const ObjectPtr& object) {
  TaskCompletionSource<CommandResult> source;
  blockQueue_.post([this, command, object, source] { runEventuallyInternal(command, source, false, object); });
  return source.task();
}

void CommandCache::waitForStores() {
  if (blockQueue_.runsOnCurrentThread()) return;
  std::promise<void> applied;
  auto done = applied.get_future();
  blockQueue_.post([&applied] { applied.set_value(); });
  done.wait();
}

void CommandCache::runEventuallyInternal(const CommandPtr& command, const TaskCompletionSource<CommandResult>& source,
                                         bool preferOldest, const ObjectPtr& object) {
  try {
    if (object && !object->objectId()) command->setLocalId(object->getOrCreateLocalId());
    const std::string text = command->json();
    const std::uintmax_t size = text.size();
    const bool refersToLocalIds = mayReferToLocalIds(text);

    std::unique_lock lock(mutex_);
    if (size > maxCacheSizeBytes_) {
      platform::log("Unable to save command for later because it's too big.");
      source.trySetError(commandNotKeptError("Unable to save command for later because it's too big."));
      return;
    }
    if (size == 0) {
      platform::log("Unable to save command for later because it's empty.");
      source.trySetError(commandNotKeptError("Unable to save command for later because it's empty."));
      return;
    }
    if (totalSize() + size > maxCacheSizeBytes_) {
      if (preferOldest) {
        source.trySetError(commandNotKeptError("Unable to save command for later because the command cache is full."));
        return;
      }
      platform::log("Deleting old commands to make room in command cache.");
      makeRoom(size);
    }
    auto path = writeQueueFile(text, refersToLocalIds);
    if (!path) {
      source.trySetError(commandNotKeptError("Error saving command for later."));
      return;
    }
    taskCompletionSources_[path->filename().string()] = source;
    workArrived_ = true;
    // Offline, the runner has nothing to send; the connection's return wakes it.
    if (connected_) condition_.notify_all();
  } catch (...) {
    source.trySetException(std::current_exception());
  }
}

// Lock held. The text goes to a hidden temporary file that is then renamed
// to a name no file has yet, so a crash leaves the whole command or a hidden
// temporary file (discarded by the drain), never half a command.
std::optional<fs::path> CommandCache::writeQueueFile(const std::string& text, bool refersToLocalIds) {
  // Counted before the text is on disk: a crash in between leaves an entry
  // counted once too often (kept a little long), never one too few.
  CommandPtr command = refersToLocalIds ? Command::commandFromJSON(text) : nullptr;
  if (command) command->retainLocalIds();
  // Listed before the new file exists, so that it is known as this store's.
  auto& files = storedFiles();
  fs::path path;
  std::error_code error = writeUniquelyNamed(text, path);
  if (error == std::errc::no_such_file_or_directory) {
    std::error_code createError;
    fs::create_directories(cachePath_, createError);
    if (createError) platform::log("Unable to create command cache. " + createError.message());
    error = writeUniquelyNamed(text, path);
  }
  if (error) {
    platform::log("Error saving command for later: " + error.message());
    if (command) command->releaseLocalIds();
    return std::nullopt;
  }
  if (knownTotalSize_) *knownTotalSize_ += text.size();
  files.emplace(path.filename().string(), StoredFile{text.size(), refersToLocalIds});
  return path;
}

// Lock held. "CommandCache_<stamp>_<counter>_<six characters>", the last six
// picked again in the unlikely case that the name is taken.
std::error_code CommandCache::writeUniquelyNamed(const std::string& text, fs::path& path) {
  char name[64];
  const int prefix = std::snprintf(name, sizeof name, "CommandCache_%016llx_%08x_",
                                   static_cast<unsigned long long>(nextStamp()), storedCommandCounter.fetch_add(1));
  std::error_code error;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fillUniqueSuffix(name + prefix);
    path = cachePath_ / name;
    error = platform::writeNewFileAtomically(path, text);
    if (error != std::errc::file_exists) break;
  }
  return error;
}

// Lock held. Wall-clock time, but always after every command already stored
// (also those of an earlier run or boot, whatever the clock did since), so
// names keep sorting in the order the commands were given.
std::uint64_t CommandCache::nextStamp() {
  if (!lastStamp_) {
    lastStamp_ = 0;
    for (const auto& path : sortedEntries(cachePath_)) lastStamp_ = std::max(*lastStamp_, stampOf(path));
  }
  lastStamp_ = std::max(wallClockNanoseconds(), *lastStamp_ + 1);
  return *lastStamp_;
}

// Lock held. Deletes the oldest files until `newSize` more bytes fit; their
// waiting callers learn that their command was dropped.
bool CommandCache::makeRoom(std::uintmax_t newSize) {
  auto& files = storedFiles();
  while (!files.empty() && totalSize() + newSize > maxCacheSizeBytes_) {
    const fs::path path = cachePath_ / files.begin()->first;
    auto source = takeSource(path);
    std::error_code error;
    if (!removeFile(path, error) && error) platform::log("Unable to remove " + path.string() + ": " + error.message());
    if (source) source->trySetError(commandNotKeptError("Command deleted to make room in command cache."));
  }
  return totalSize() + newSize <= maxCacheSizeBytes_;
}

// Lock held.
CommandCache::StoredFiles& CommandCache::storedFiles() {
  if (!knownFiles_) {
    knownFiles_.emplace();
    for (const auto& path : sortedEntries(cachePath_)) knownFiles_->emplace(path.filename().string(), std::nullopt);
  }
  return *knownFiles_;
}

// Lock held. Forgotten even when the file cannot be removed, so making room
// moves past it.
std::optional<CommandCache::StoredFile> CommandCache::forgetStoredFile(const std::string& name) {
  if (!knownFiles_) return std::nullopt;
  auto found = knownFiles_->find(name);
  if (found == knownFiles_->end()) return std::nullopt;
  auto stored = found->second;
  knownFiles_->erase(found);
  return stored;
}

std::uintmax_t CommandCache::totalSize() {
  if (knownTotalSize_) return *knownTotalSize_;
  std::uintmax_t total = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator it(cachePath_, error), end; !error && it != end; it.increment(error)) {
    std::error_code sizeError;
    if (it->is_regular_file(sizeError)) {
      auto size = it->file_size(sizeError);
      if (!sizeError) total += size;
    }
  }
  if (!error) knownTotalSize_ = total;
  return total;
}

std::optional<TaskCompletionSource<CommandResult>> CommandCache::takeSource(const fs::path& path) {
  auto found = taskCompletionSources_.find(path.filename().string());
  if (found == taskCompletionSources_.end()) return std::nullopt;
  auto source = found->second;
  taskCompletionSources_.erase(found);
  return source;
}

// Lock held. Drops the command's local-id references before the file goes;
// only a file this queue did not write itself, or one that refers to local
// ids, is read for that.
bool CommandCache::removeFile(const fs::path& path, std::error_code& error) {
  const std::string name = path.filename().string();
  taskCompletionSources_.erase(name);
  const auto stored = forgetStoredFile(name);
  const auto size = stored && !stored->refersToLocalIds ? std::optional(stored->size) : releaseLocalIdsOf(path);
  bool removed = fs::remove(path, error);
  if (removed && size && knownTotalSize_) {
    *knownTotalSize_ -= std::min(*knownTotalSize_, *size);
  } else if (removed || error) {
    knownTotalSize_.reset();
  }
  return removed;
}

// Lock held. The file's size when it could be read.
std::optional<std::uintmax_t> CommandCache::releaseLocalIdsOf(const fs::path& path) {
  auto text = platform::readFile(path);
  if (!text) return std::nullopt;
  if (mayReferToLocalIds(*text)) {
    try {
      if (auto command = Command::commandFromJSON(*text)) command->releaseLocalIds();
    } catch (const std::exception& e) {
      platform::log("Unable to release the local ids of " + path.string() + ": " + e.what());
    }
  }
  return text->size();
}

std::size_t CommandCache::pendingCount() {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  std::error_code error;
  for (fs::directory_iterator it(cachePath_, error), end; !error && it != end; it.increment(error)) {
    if (isQueueFileName(it->path())) ++count;
  }
  return count;
}

void CommandCache::clear() {
  std::lock_guard lock(mutex_);
  for (const auto& path : sortedEntries(cachePath_)) {
    std::error_code error;
    fs::remove_all(path, error);
    if (error) platform::log("Error deleting file " + path.string() + ":" + error.message() + ".");
  }
  for (auto& [path, source] : taskCompletionSources_) {
    source.trySetError(commandNotKeptError("The command cache was cleared."));
  }
  taskCompletionSources_.clear();
  knownTotalSize_.reset();
  knownFiles_.reset();
}

void CommandCache::setTimeoutMaxRetries(int retries) {
  std::lock_guard lock(mutex_);
  timeoutMaxRetries_ = retries;
}

void CommandCache::setTimeoutRetryWaitSeconds(float seconds) {
  std::lock_guard lock(mutex_);
  timeoutRetryWaitSeconds_ = seconds;
}

void CommandCache::setMaxCacheSizeBytes(std::uintmax_t bytes) {
  std::lock_guard lock(mutex_);
  maxCacheSizeBytes_ = bytes;
}

void CommandCache::setConnected(bool connected) {
  if (blockQueue_.runsOnCurrentThread()) {
    applyConnected(connected);
    return;
  }
  std::promise<void> applied;
  auto done = applied.get_future();
  blockQueue_.post([this, connected, &applied] {
    applyConnected(connected);
    applied.set_value();
  });
  done.wait();
}

bool CommandCache::isConnected() {
  std::lock_guard lock(mutex_);
  return connected_;
}

void CommandCache::applyConnected(bool connected) {
  std::lock_guard lock(mutex_);
  if (connected_ == connected) return;
  connected_ = connected;
  if (connected) workArrived_ = true;
  // Also on a loss, so a retry pause in progress aborts at once.
  condition_.notify_all();
}

}  // namespace backend::net
