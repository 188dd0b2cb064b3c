#pragma once
// Takes built hits from the trackers, stores them, and delivers them to the
// collection endpoint in batches: on a repeating timer, on demand, and again
// right after each delivery while hits remain. Its state lives on the
// analytics thread; every public operation may be called from any thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analytics/data_store.hpp"
#include "analytics/dispatch_sender.hpp"
#include "analytics/request_builder.hpp"
#include "analytics/url_connection.hpp"

namespace platform {
class EventLoopThread;
class Executor;
class ReachabilitySource;
}  // namespace platform

namespace analytics {

inline constexpr const char* kSecureCollectURL = "https://ssl.analytics.test/collect";
inline constexpr const char* kPlainCollectURL = "http://www.analytics.test/collect";
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
    // Called on the analytics thread once an exchange's outcome has been
    // applied (hits deleted or kept): the HTTP status, or -1 without answer.
    std::function<void(long status)> exchangeFinished;
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

  // True when no exchange is in flight and the store holds no hit.
  bool isIdle();
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
