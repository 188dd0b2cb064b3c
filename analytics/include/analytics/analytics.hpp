#pragma once
// The analytics client's public face: the process-wide instance, its
// trackers, and the settings of delivery.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "analytics/collection.hpp"
#include "analytics/logger.hpp"
#include "analytics/tracker.hpp"

namespace platform {
class EventLoopThread;
}

namespace analytics {

class BatchingDispatcher;
class ConnectionFactory;

// Makes a tracker for a dispatcher and a name (null when it cannot).
using TrackerFactory =
    std::function<std::shared_ptr<Tracker>(std::shared_ptr<DispatchSender> dispatcher, const std::string& name)>;

class Analytics {
 public:
  // Where the instance keeps its hits and sends them.
  struct Configuration {
    std::filesystem::path storeDirectory;  // empty: the sandbox's library directory
    std::string httpsURL = kSecureCollectURL;
    std::string httpURL = kPlainCollectURL;
    RequestRouter router;                  // empty: URLs are used as they are
    platform::EventLoopThread* thread = nullptr;  // null: the analytics thread
  };

  // The process-wide instance, created on first call (thread-safe).
  static Analytics& sharedInstance();
  // Sets the configuration the shared instance will be created with. Answers
  // false (and changes nothing) once it exists.
  static bool configureSharedInstance(Configuration configuration);
  // The logger every diagnostic of the client goes to.
  static std::shared_ptr<Logger> sharedLogger();
  // The client's private thread "ANThread", started on first call and joined
  // at process exit. The store, the dispatcher and its exchanges run there.
  static platform::EventLoopThread& thread();

  // An instance of its own (tools and tests); the shared one is usually enough.
  explicit Analytics(Configuration configuration);
  ~Analytics();
  Analytics(const Analytics&) = delete;
  Analytics& operator=(const Analytics&) = delete;

  // The tracker of that name, created with "&tid" = trackingId when new (an
  // existing one is returned unchanged). The first tracker becomes the
  // default tracker. Null for an empty name or without a dispatcher (an
  // error is logged).
  std::shared_ptr<Tracker> trackerWithName(const std::string& name, const std::string& trackingId);
  std::shared_ptr<Tracker> trackerWithTrackingId(const std::string& trackingId);
  // The default tracker is not owned: it goes when its tracker is removed.
  std::shared_ptr<Tracker> defaultTracker();
  void setDefaultTracker(const std::shared_ptr<Tracker>& tracker);
  void removeTrackerByName(const std::string& name);

  // Sends stored hits now.
  void dispatch();
  // Seconds between automatic deliveries (default 120; 0 or less: none).
  double dispatchInterval();
  void setDispatchInterval(double seconds);
  // Reports uncaught exceptions as fatal exception hits.
  bool trackUncaughtExceptions();
  void setTrackUncaughtExceptions(bool track);
  // While true no hit is queued; turning it on deletes every stored hit.
  bool optOut();
  void setOptOut(bool optOut);
  // In dry-run mode exchanges answer 200 without network traffic.
  bool dryRun();
  void setDryRun(bool dryRun);
  std::shared_ptr<Logger> logger();
  void setLogger(std::shared_ptr<Logger> logger);
  // The installation's client id ("" without a dispatcher).
  std::string clientId();

  // The dispatcher, created on first call; null when it cannot be created.
  std::shared_ptr<BatchingDispatcher> dispatcher();
  void setConnectionFactory(std::shared_ptr<ConnectionFactory> connections);
  void setTrackerFactory(TrackerFactory factory);

  // Stops delivery, forgets every tracker and the dispatcher, waits for the
  // analytics thread's queued work, and deletes both store files.
  void reset();

 private:
  std::shared_ptr<BatchingDispatcher> dispatcherLocked();

  Configuration configuration_;
  std::recursive_mutex mutex_;
  std::map<std::string, std::shared_ptr<Tracker>> trackers_;
  std::weak_ptr<Tracker> defaultTracker_;
  std::shared_ptr<BatchingDispatcher> dispatcher_;
  std::shared_ptr<ConnectionFactory> connections_;
  TrackerFactory trackerFactory_;
  bool trackUncaughtExceptions_ = false;
  bool dryRun_ = false;
  bool optOut_ = false;
  double pendingInterval_ = 120.0;
};

}  // namespace analytics
