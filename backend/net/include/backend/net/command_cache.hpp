#pragma once
// The offline command queue: commands to run "eventually", kept as one JSON
// file each in a directory, oldest first, and sent one by one by a runner
// thread of its own whenever the backend host is reachable. Commands survive
// a missing network and a restart of the process; a command written by one
// run is sent by the next (whose caller then gets no outcome).
//
// Stores and connectivity changes are applied in order on a serial queue;
// the files, settings, completion sources and the connected flag are guarded
// by one lock, which the runner holds while it drains (a store waits for the
// end of a pass, or for the runner's retry pause).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <string>
#include <thread>

#include "backend/net/command.hpp"
#include "backend/task.hpp"
#include "platform/reachability.hpp"
#include "platform/serial_queue.hpp"

namespace backend::net {

// The code of the error a caller gets when the queue does not keep its
// command: too big, empty, not writable, deleted to make room for newer
// commands, or thrown away by clear(). The message says which.
inline constexpr std::int64_t kErrorCommandNotKept = 1;

class CommandCache {
 public:
  static constexpr int kDefaultTimeoutMaxRetries = 5;
  static constexpr float kDefaultTimeoutRetryWaitSeconds = 600;
  static constexpr std::uintmax_t kDefaultMaxCacheSizeBytes = 10485760;

  // The shared queue in "<private dir>/Command Cache", watching the backend
  // host through the process' reachability source. Created (and started) on
  // first use and kept for the process; only when the sandbox root has moved
  // since (tests) is it paused and a new one made for the new root — the old
  // object stays valid, stopped, until exit.
  static CommandCache& defaultInstance();

  // A queue on `cachePath` (created when missing, excluded from backup) that
  // watches the backend host through `reachability`, which must outlive it.
  // Starts the runner thread and reads the host's flags once on the serial
  // queue; until then the queue counts as not connected.
  CommandCache(std::filesystem::path cachePath, platform::ReachabilitySource& reachability);
  // Stops watching, joins the runner and waits for queued stores. Commands
  // still on disk stay there for the next queue on the same directory; their
  // callers' tasks are left pending, since the command may still succeed.
  ~CommandCache();
  CommandCache(const CommandCache&) = delete;
  CommandCache& operator=(const CommandCache&) = delete;

  // Stores the command on the serial queue and returns at once. The task
  // ends with the result once the command has succeeded, with the server's
  // error (or code 106 when it could not even be prepared, for example a
  // delete of an object whose creation never reached the server) once it has
  // failed for good, or with kErrorCommandNotKept when the queue does not
  // keep it. `object`, when given and still without object id, lends the
  // command its local id. Connection failures keep the command and retry.
  Task<CommandResult> runEventuallyAsync(const CommandPtr& command, const ObjectPtr& object);
  // Returns once every store queued before the call has been applied.
  // Must not be called on the queue's own serial queue.
  void waitForStores();

  // Stored commands (files in the directory, not counting the hidden
  // temporary files of writes in progress or cut short).
  std::size_t pendingCount();
  // Deletes every file of the queue; the callers still waiting get
  // kErrorCommandNotKept.
  void clear();

  void setTimeoutMaxRetries(int retries);
  void setTimeoutRetryWaitSeconds(float seconds);
  void setMaxCacheSizeBytes(std::uintmax_t bytes);
  // Applied on the serial queue; returns once applied. Becoming connected
  // starts a drain at once.
  void setConnected(bool connected);
  bool isConnected();

  // Start and stop the runner thread; both return once it has started or
  // left its loop. A command in flight when pausing keeps its file and is
  // sent again later. Idempotent; not to be called from the runner itself.
  void resume();
  void pause();

  const std::filesystem::path& cachePath() const noexcept { return cachePath_; }

 private:
  struct Wakeup;
  enum class PassEnd { Finished, Restart, Abort };

  // The store itself, on the serial queue: room is made by deleting the
  // oldest commands unless `preferOldest`, in which case a command that does
  // not fit is not kept. `source` gets the outcome as described above.
  void runEventuallyInternal(const CommandPtr& command, const TaskCompletionSource<CommandResult>& source,
                             bool preferOldest, const ObjectPtr& object);

  void applyConnected(bool connected);
  void runLoop();
  void maybeRunAllCommandsNow(std::unique_lock<std::mutex>& lock, int retriesRemaining);
  PassEnd drainOnce(std::unique_lock<std::mutex>& lock, int retriesRemaining);
  PassEnd runStoredCommand(std::unique_lock<std::mutex>& lock, const std::filesystem::path& path, int retriesRemaining);
  Task<CommandResult> sendAndWait(const CommandPtr& command);
  PassEnd waitForRetry(std::unique_lock<std::mutex>& lock, int retriesRemaining);
  bool removeFile(const std::filesystem::path& path, std::error_code& error);
  std::optional<std::uintmax_t> releaseLocalIdsOf(const std::filesystem::path& path);
  std::optional<TaskCompletionSource<CommandResult>> takeSource(const std::filesystem::path& path);
  bool makeRoom(std::uintmax_t newSize);
  std::uintmax_t totalSize();
  std::optional<std::filesystem::path> writeQueueFile(const std::string& text, bool refersToLocalIds);
  std::error_code writeUniquelyNamed(const std::string& text, std::filesystem::path& path);

  const std::filesystem::path cachePath_;
  platform::SerialQueue blockQueue_;

  std::mutex mutex_;
  std::condition_variable condition_;
  int timeoutMaxRetries_ = kDefaultTimeoutMaxRetries;
  float timeoutRetryWaitSeconds_ = kDefaultTimeoutRetryWaitSeconds;
  std::uintmax_t maxCacheSizeBytes_ = kDefaultMaxCacheSizeBytes;
  bool connected_ = false;
  // Set by stores and connectivity changes so a wake-up that came while the
  // runner was busy is not lost.
  bool workArrived_ = false;
  // By file name: every file lives directly in cachePath_.
  std::unordered_map<std::string, TaskCompletionSource<CommandResult>> taskCompletionSources_;
  // Bytes of all files below the directory, counted once and then kept up
  // to date by stores and removals (nullopt: count again).
  std::optional<std::uintmax_t> knownTotalSize_;
  // What a store knew of the file it wrote, so that removing it needs no
  // read; files found on disk (nullopt) are read when removed.
  struct StoredFile {
    std::uintmax_t size;
    bool refersToLocalIds;
  };
  using StoredFiles = std::map<std::string, std::optional<StoredFile>>;
  // The directory's files in stored order, listed once and then kept up to
  // date by stores and removals, so a store at the cap finds the oldest
  // without listing the directory (nullopt: list again).
  std::optional<StoredFiles> knownFiles_;
  StoredFiles& storedFiles();
  std::optional<StoredFile> forgetStoredFile(const std::string& name);
  // The order stamp of the newest stored command (file names carry it).
  std::optional<std::uint64_t> lastStamp_;
  std::uint64_t nextStamp();

  std::atomic<bool> shouldStop_{false};
  std::shared_ptr<Wakeup> wakeup_;
  std::mutex lifecycleMutex_;
  std::thread runner_;

  std::unique_ptr<platform::ReachabilityWatcher> reachability_;
};

}  // namespace backend::net
