#pragma once
// Keeps queued hits on disk until they are delivered, and the installation's
// client id. Two SQLite files in the library directory: "analytics-v2.sql"
// (properties, and hits of the previous client generation) and
// "analytics-v3.sql" (hits). Every operation runs on the analytics thread;
// callers on other threads wait for it.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/dictionary_builder.hpp"
#include "platform/date.hpp"
#include "platform/error.hpp"
#include "platform/notification_center.hpp"

namespace platform {
class EventLoopThread;
}

namespace analytics {

// A stored record's identity: which file and which row. Rows are never reused.
struct ObjectId {
  enum class Store : std::uint8_t { Hits, Properties };
  Store store = Store::Hits;
  std::int64_t row = 0;
  bool operator==(const ObjectId&) const = default;
};

// A hit on its way from a tracker to the collector.
struct HitRecord {
  std::optional<platform::Date> timestamp;  // when it was queued
  ParameterMap parameters;
  std::optional<ObjectId> objectId;         // set once stored
};

// A record of the previous generation: parameter names without "&".
struct OldHitRecord {
  platform::Date timestamp;
  std::string parametersData;  // a parameter archive
  std::string dispatchUrl;
  std::string anVersion;
  ObjectId objectId;
};

inline constexpr const char* kPropertyStoreFileName = "analytics-v2.sql";
inline constexpr const char* kHitStoreFileName = "analytics-v3.sql";

class DataStore {
 public:
  struct Options {
    std::filesystem::path directory;           // empty: the sandbox's library directory
    platform::EventLoopThread* thread = nullptr;  // null: the analytics thread
    std::uint64_t maxHitCount = 2000;          // 0: no limit
  };

  // Queues the set-up on the thread without waiting, and saves on the
  // application's resign-active and terminate notifications.
  explicit DataStore(Options options);
  // Waits for the work queued on the thread, then closes both files.
  ~DataStore();
  DataStore(const DataStore&) = delete;
  DataStore& operator=(const DataStore&) = delete;

  // A store in the default place; never null.
  static std::unique_ptr<DataStore> dataStore();
  // "<directory>/<name>".
  static std::filesystem::path databaseFullPath(const std::filesystem::path& directory, const std::string& name);

  // The client id; waits for the set-up the first time.
  std::string clientId();
  // Caches the id and writes it to the "ClientId" property.
  void setClientId(const std::string& clientId);
  std::optional<std::string> fetchClientId();

  // The operations below report a failure in `error` when given, else log
  // "Datastore error: ...".

  // Inserts a hit (timestamped now when it has none) as an unsaved change.
  void addHit(const HitRecord& hit, platform::Error* error = nullptr);
  // Stored hits, counting previous-generation ones while they remain; -1 on failure.
  std::int64_t hitCount(platform::Error* error = nullptr);
  // Up to `limit` (0: all) hits, oldest first, previous-generation hits
  // (converted) before new ones, unsaved changes included. nullopt on failure.
  std::optional<std::vector<HitRecord>> fetchHits(std::size_t limit, platform::Error* error = nullptr);
  // Deletes the records that still exist.
  bool deleteHits(const std::vector<ObjectId>& ids, platform::Error* error = nullptr);
  bool deleteAllHits(platform::Error* error = nullptr);
  // Makes pending changes durable. A store over maxHitCount first loses its
  // oldest hits: the excess, and at least a hundredth of the cap, so that a
  // full store does not pay for a deletion with every hit.
  bool save(platform::Error* error = nullptr);
  bool deleteExcessHits(platform::Error* error = nullptr);
  // Deletes hits at or before now minus 30 days from one file, then saves.
  bool removeStaleHits(ObjectId::Store store, platform::Error* error = nullptr);

  // True once both files opened.
  bool isSetUp();
  // True while previous-generation hits are being sent first.
  bool isDrainingOldHits();
  std::uint64_t maxHitCount() const;
  void setMaxHitCount(std::uint64_t count);
  const std::filesystem::path& directory() const;

  // The conversion of a previous-generation record: names gain "&", a
  // "http:" URL adds "useSecure" = "0", "anVersion" is kept. nullopt when its
  // archive does not decode.
  static std::optional<HitRecord> oldHitDescription(const OldHitRecord& old);

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
  platform::ScopedObserver resignObserver_;
  platform::ScopedObserver terminateObserver_;
};

}  // namespace analytics
