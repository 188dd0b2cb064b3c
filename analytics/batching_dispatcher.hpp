#pragma once
// Takes built hits from the trackers, stores them, and delivers them to the
// collection endpoint in batches: on a repeating timer, on demand, and again
// right after each delivery while hits remain. Its state lives on the
// analytics thread; every public operation may be called from any thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/collection.hpp"
#include "data_store.hpp"
#include "dispatch_sender.hpp"
#include "request_builder.hpp"
#include "url_connection.hpp"

namespace platform {
class EventLoopThread;
class Executor;
class ReachabilitySource;
}  // namespace platform

namespace analytics {

// Posted on the analytics thread before each exchange, with no object.
inline constexpr const char* kWillDispatchNotification = "ANWillDispatchNotification";

// The dispatcher's tunables, with their defaults.
struct DispatchSettings {
  double dispatchInterval = 120.0;   // seconds; 0 or less: no automatic sending
  std::uint64_t maxHitsPerDispatch = 20;
  double maxHitAge = 2592000.0;      // seconds (30 days); older hits are deleted unsent
  std::uint64_t maxBodySize = 8192;  // bytes; 0: no limit
  std::uint64_t maxHitSize = 8192;   // bytes of one line; 0: no limit
  unsigned batchingStrategy = 0;     // 0 one hit per request; 1 to 5 see hitsForDispatch
  Compression compression = Compression::None;
};

// What became of one exchange.
struct ExchangeOutcome {
  long status = -1;                      // the HTTP status; -1 when no answer came
  std::size_t hits = 0;                  // the hits the request carried
  std::optional<platform::Error> error;  // why no answer came, when known
};

// Reports of the dispatcher's work for tools and tests, called on the
// analytics thread once the outcome has been applied to the store.
struct DispatchObserver {
  // A hit that passed opt-out and sampling was stored (true) or could not be.
  std::function<void(bool stored)> hitPersisted;
  // An exchange ended; with an answer its hits are gone from the store.
  std::function<void(const ExchangeOutcome&)> exchangeFinished;
};

class BatchingDispatcher final : public DispatchSender {
 public:
  struct Options {
    std::string httpsURL = kSecureCollectURL;
    std::string httpURL = kPlainCollectURL;
    DispatchSettings settings;
    platform::EventLoopThread* thread = nullptr;            // null: the analytics thread
    std::shared_ptr<ConnectionFactory> connections;          // null: libcurl exchanges
    platform::Executor* completionQueue = nullptr;          // null: the main queue
    platform::ReachabilitySource* reachabilitySource = nullptr;  // null: the platform's
    DispatchObserver observer;
    bool initialDispatch = true;  // try to send one second after creation
  };

  // A dispatcher over a new store in the default place.
  static std::shared_ptr<BatchingDispatcher> dispatcher(Options options);
  // Starts watching the secure endpoint's host and schedules the initial dispatch.
  BatchingDispatcher(std::unique_ptr<DataStore> store, Options options);
  // Stops the timers, the reachability watch and the exchange in flight, and
  // closes the store. Nothing queued afterwards runs.
  ~BatchingDispatcher() override;
  BatchingDispatcher(const BatchingDispatcher&) = delete;
  BatchingDispatcher& operator=(const BatchingDispatcher&) = delete;

  // Builds the model's hit on the analytics thread and stores it; dropped
  // while opted out. Returns at once.
  void queueModel(TrackerModel model) override;
  // Stores a built hit unless opted out or sampled out ("&sf"). Returns at once.
  void queueDispatch(ParameterMap parameters) override;
  std::string clientId() override;

  // Delivers the next batch now (when reachable, with hits, none in flight).
  void dispatch();
  double dispatchInterval() const;
  void setDispatchInterval(double seconds);
  void setHostReachable(bool reachable);
  void setHasHits(bool hasHits);
  // While true no hit is queued; turning it on deletes every stored hit.
  void setOptOut(bool optOut);
  bool optOut() const;
  void deleteAllHits();

  DispatchSettings settings() const;
  // Changes the tunables on the analytics thread (the interval through
  // setDispatchInterval, which reschedules).
  void updateSettings(const std::function<void(DispatchSettings&)>& change);
  void setEndpoints(std::string httpsURL, std::string httpURL);
  void setConnectionFactory(std::shared_ptr<ConnectionFactory> connections);
  std::shared_ptr<ConnectionFactory> connectionFactory() const;

  // Replaces the observer (on the analytics thread, after what is queued there).
  void setObserver(DispatchObserver observer);

  // True when no exchange is in flight and the store holds no hit.
  bool isIdle();
  // Waits until isIdle() or the deadline, never blocking past it even when
  // the analytics thread is busy. False on time-out, and at once on the
  // analytics thread itself (nothing could happen there while it waited).
  bool waitUntilIdle(std::chrono::steady_clock::time_point deadline);
  // Completes exchanges on the analytics thread from now on, those waiting
  // in the main queue included: a crash report cannot count on the main loop.
  void divertCompletionsToThread();
  DataStore& dataStore();

  // The batch the next exchange would carry (deleting stale hits on the way).
  std::vector<HitRecord> hitsForDispatch();
  // The lines of the batch, without empty or oversized ones, joined with "\n".
  std::string buildPayload(const std::vector<HitRecord>& hits);
  // Batch sizes: ends before the largest pause / at a session boundary.
  static std::size_t batchByTimeGap(const std::vector<HitRecord>& hits, std::size_t maxHits);
  static std::size_t batchBySessionSplit(const std::vector<HitRecord>& hits, std::size_t maxHits);

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

}  // namespace analytics
