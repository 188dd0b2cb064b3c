#include "data_store.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include "analytics/analytics.hpp"
#include "analytics/fields.hpp"
#include "analytics/logger.hpp"
#include "diagnostics.hpp"
#include "hit_util.hpp"
#include "parameter_archive.hpp"
#include "platform/application_notifications.hpp"
#include "platform/event_loop_thread.hpp"
#include "platform/notification_center.hpp"
#include "platform/sandbox.hpp"
#include "sqlite_database.hpp"

namespace analytics {

namespace {

constexpr double kStaleHitAge = 2592000.0;  // 30 days
constexpr const char* kClientIdProperty = "ClientId";

// The oldest hits a save deletes at least once the store is over its cap: a
// hundredth of the cap, but a tenth (up to 10 hits) for small caps, so a full
// store does not pay a deletion with every hit it saves.
std::int64_t evictionBatch(std::uint64_t maxHitCount) {
  const std::uint64_t batch = std::max<std::uint64_t>(maxHitCount / 100, std::min<std::uint64_t>(10, maxHitCount / 10));
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(batch));
}

const detail::SqliteDatabase::Schema kHitSchema = {
    3,
    "CREATE TABLE ANHit (id INTEGER PRIMARY KEY AUTOINCREMENT, timestamp REAL, parameters BLOB);"
    "CREATE INDEX ANHit_timestamp ON ANHit(timestamp);",
    "SELECT id, timestamp, parameters FROM ANHit LIMIT 0",
};

const detail::SqliteDatabase::Schema kPropertySchema = {
    2,
    "CREATE TABLE ANProperty (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, string TEXT,"
    " number INTEGER, anVersion TEXT NOT NULL);"
    "CREATE INDEX ANProperty_name ON ANProperty(name);"
    "CREATE INDEX ANProperty_anVersion ON ANProperty(anVersion);"
    "CREATE TABLE ANHit (id INTEGER PRIMARY KEY AUTOINCREMENT, timestamp REAL NOT NULL,"
    " parametersData BLOB NOT NULL, dispatchUrl TEXT NOT NULL, anVersion TEXT NOT NULL);"
    "CREATE INDEX ANHit_timestamp ON ANHit(timestamp);"
    "CREATE INDEX ANHit_dispatchUrl ON ANHit(dispatchUrl);"
    "CREATE INDEX ANHit_anVersion ON ANHit(anVersion);",
    "SELECT p.id, p.name, p.string, p.number, p.anVersion, h.id, h.timestamp, h.parametersData, h.dispatchUrl,"
    " h.anVersion FROM ANProperty p, ANHit h LIMIT 0",
};

std::string columnText(sqlite3_stmt* statement, int column) {
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
  int size = sqlite3_column_bytes(statement, column);
  return bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
}

void deliver(const platform::Error& error, platform::Error* slot) {
  if (slot) {
    *slot = error;
  } else {
    AN_ERROR("Datastore error: " + error.description());
  }
}

}  // namespace

struct DataStore::Impl {
  platform::EventLoopThread& thread;
  std::filesystem::path directory;
  std::atomic<std::uint64_t> maxHitCount;

  // Thread-only state.
  detail::SqliteDatabase hits;
  detail::SqliteDatabase properties;
  std::int64_t hitRows = 0;
  std::int64_t propertyHitRows = 0;
  ObjectId::Store current = ObjectId::Store::Hits;
  bool ready = false;     // set-up has run (stores exist, maybe without files)
  bool setUpOk = false;

  // The client id, readable from any thread once known.
  std::mutex idMutex;
  std::condition_variable idKnown;
  std::optional<std::string> clientId;
  bool setUpFinished = false;

  Impl(platform::EventLoopThread& t, std::filesystem::path dir, std::uint64_t max)
      : thread(t), directory(std::move(dir)), maxHitCount(max) {}

  detail::SqliteDatabase& db(ObjectId::Store store) { return store == ObjectId::Store::Hits ? hits : properties; }
  std::int64_t& rows(ObjectId::Store store) { return store == ObjectId::Store::Hits ? hitRows : propertyHitRows; }

  // The thread gate: runs `work` on the analytics thread (inline when already
  // there) and hands its failure to the slot or the log.
  template <class T>
  std::optional<T> perform(const std::function<std::optional<T>(platform::Error&)>& work, platform::Error* slot) {
    std::optional<T> result;
    platform::Error error;
    bool ran = false;
    auto body = [&] {
      if (!ready) return;
      ran = true;
      result = work(error);
    };
    if (thread.runsOnCurrentThread()) {
      body();
    } else {
      thread.perform(body, platform::EventLoopThread::Wait::Yes);
    }
    if (ran && !result) deliver(error, slot);
    return result;
  }

  bool openStore(detail::SqliteDatabase& database, const char* name, const detail::SqliteDatabase::Schema& schema) {
    auto path = DataStore::databaseFullPath(directory, name);
    platform::Error error;
    if (database.open(path, schema, error)) return true;
    AN_WARNING("Corrupted database with URL file://" + path.string() + ": " + error.description());
    detail::removeDatabaseFiles(path);
    if (database.open(path, schema, error)) return true;
    AN_ERROR("Error creating database with URL file://" + path.string() + ": " + error.description());
    return false;
  }

  std::optional<std::int64_t> countRows(ObjectId::Store store, platform::Error& error) {
    auto statement = db(store).prepare("SELECT count(*) FROM ANHit", error);
    if (!statement || sqlite3_step(statement.get()) != SQLITE_ROW) {
      if (statement) error = db(store).lastError("count");
      return std::nullopt;
    }
    return sqlite3_column_int64(statement.get(), 0);
  }

  void recount(ObjectId::Store store) {
    platform::Error ignored;
    rows(store) = countRows(store, ignored).value_or(0);
  }

  void setUp() {
    std::error_code ignored;
    std::filesystem::create_directories(directory, ignored);
    bool propertiesOpen = openStore(properties, kPropertyStoreFileName, kPropertySchema);
    bool hitsOpen = openStore(hits, kHitStoreFileName, kHitSchema);
    if (propertiesOpen) recount(ObjectId::Store::Properties);
    if (hitsOpen) recount(ObjectId::Store::Hits);
    current = ObjectId::Store::Hits;
    ready = true;
    if (propertyHitRows > 0) {
      current = ObjectId::Store::Properties;
      platform::Error error;
      if (!removeStale(ObjectId::Store::Properties, error)) deliver(error, nullptr);
    }
    platform::Error error;
    auto stored = propertiesOpen ? readClientId(error) : std::nullopt;
    std::string id = stored.value_or("");
    if (id.empty()) {
      id = HitUtil::generateClientId();
      if (propertiesOpen && !writeClientId(id, error)) deliver(error, nullptr);
    }
    setUpOk = propertiesOpen && hitsOpen;
    if (!setUpOk) AN_ERROR("Can not setup Core Data stack");
    {
      std::lock_guard lock(idMutex);
      clientId = id;
      setUpFinished = true;
    }
    idKnown.notify_all();
  }

  std::optional<std::string> readClientId(platform::Error& error) {
    auto statement = properties.prepare("SELECT string FROM ANProperty WHERE name = ?1 LIMIT 1", error);
    if (!statement) return std::nullopt;
    sqlite3_bind_text(statement.get(), 1, kClientIdProperty, -1, SQLITE_STATIC);
    int rc = sqlite3_step(statement.get());
    if (rc == SQLITE_ROW && sqlite3_column_type(statement.get(), 0) == SQLITE_TEXT) return columnText(statement.get(), 0);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) error = properties.lastError("fetch property");
    return std::nullopt;
  }

  bool writeClientId(const std::string& id, platform::Error& error) {
    if (!properties.beginChanges(error)) return false;
    {
      auto insert = properties.prepare(
          "INSERT INTO ANProperty (name, anVersion) SELECT ?1, ?2"
          " WHERE NOT EXISTS (SELECT 1 FROM ANProperty WHERE name = ?1)",
          error);
      if (!insert) return false;
      sqlite3_bind_text(insert.get(), 1, kClientIdProperty, -1, SQLITE_STATIC);
      sqlite3_bind_text(insert.get(), 2, kClientVersion, -1, SQLITE_STATIC);
      if (!properties.run(insert, error)) return false;
    }
    {
      auto update = properties.prepare("UPDATE ANProperty SET string = ?2 WHERE name = ?1", error);
      if (!update) return false;
      sqlite3_bind_text(update.get(), 1, kClientIdProperty, -1, SQLITE_STATIC);
      sqlite3_bind_text(update.get(), 2, id.c_str(), static_cast<int>(id.size()), SQLITE_TRANSIENT);
      if (!properties.run(update, error)) return false;
    }
    return commit(ObjectId::Store::Properties, error);
  }

  bool commit(ObjectId::Store store, platform::Error& error) {
    if (db(store).commit(error)) return true;
    recount(store);
    return false;
  }

  bool insertHit(const HitRecord& hit, platform::Error& error) {
    if (!hits.beginChanges(error)) return false;
    auto insert = hits.prepare("INSERT INTO ANHit (timestamp, parameters) VALUES (?1, ?2)", error);
    if (!insert) return false;
    double timestamp = hit.timestamp.value_or(platform::Date::now()).timeIntervalSince1970();
    std::string archive = encodeParameterArchive(hit.parameters);
    sqlite3_bind_double(insert.get(), 1, timestamp);
    sqlite3_bind_blob(insert.get(), 2, archive.data(), static_cast<int>(archive.size()), SQLITE_STATIC);
    if (!hits.run(insert, error)) return false;
    ++hitRows;
    return true;
  }

  std::optional<std::int64_t> count(platform::Error& error) {
    if (!hits.isOpen()) {
      error = hits.lastError("count");
      return std::nullopt;
    }
    std::int64_t total = hitRows;
    if (current == ObjectId::Store::Properties) {
      if (!properties.isOpen()) {
        error = properties.lastError("count");
        return std::nullopt;
      }
      total += propertyHitRows;
    }
    return total;
  }

  bool deleteRow(const ObjectId& id, platform::Error& error) {
    auto& database = db(id.store);
    if (!database.beginChanges(error)) return false;
    auto remove = database.prepare("DELETE FROM ANHit WHERE id = ?1", error);
    if (!remove) return false;
    sqlite3_bind_int64(remove.get(), 1, id.row);
    if (!database.run(remove, error)) return false;
    rows(id.store) -= sqlite3_changes(database.handle());
    return true;
  }

  // Deletes the `count` oldest hits of one file.
  bool deleteOldest(ObjectId::Store store, std::int64_t count, platform::Error& error) {
    auto& database = db(store);
    if (!database.beginChanges(error)) return false;
    auto remove = database.prepare(
        "DELETE FROM ANHit WHERE id IN (SELECT id FROM ANHit ORDER BY timestamp, id LIMIT ?1)", error);
    if (!remove) return false;
    sqlite3_bind_int64(remove.get(), 1, count);
    if (!database.run(remove, error)) return false;
    rows(store) -= sqlite3_changes(database.handle());
    return true;
  }

  // Empties both files; one that refuses does not stop the other. A file
  // that could not be opened holds no hit to delete.
  bool deleteAll(platform::Error& error) {
    bool deleted = true;
    for (auto store : {ObjectId::Store::Properties, ObjectId::Store::Hits}) {
      auto& database = db(store);
      if (!database.isOpen()) continue;
      platform::Error failure;
      if (database.beginChanges(failure) && database.exec("DELETE FROM ANHit", failure)) {
        rows(store) = 0;
      } else if (deleted) {
        error = failure;
        deleted = false;
      }
    }
    return deleted;
  }

  bool deleteExcess(platform::Error& error) {
    std::uint64_t max = maxHitCount.load();
    if (max == 0) return true;
    auto total = count(error);
    if (!total) return false;
    if (*total <= static_cast<std::int64_t>(max)) return true;
    AN_VERBOSE("Deleting excess hits.");
    // A full store would otherwise pay for one deletion per hit saved: make
    // room for a batch of hits at once (a hundredth of the cap).
    std::int64_t excess = std::max(*total - static_cast<std::int64_t>(max), evictionBatch(max));
    // Previous-generation hits are the oldest; the rest comes from the hit file.
    if (current == ObjectId::Store::Properties) {
      std::int64_t before = propertyHitRows;
      if (!deleteOldest(ObjectId::Store::Properties, excess, error)) return false;
      excess -= before - propertyHitRows;
    }
    return excess <= 0 || deleteOldest(ObjectId::Store::Hits, excess, error);
  }

  bool save(platform::Error& error) {
    if (!hits.hasChanges() && !properties.hasChanges()) return true;
    if (!deleteExcess(error)) return false;
    if (!commit(ObjectId::Store::Hits, error)) return false;
    if (!commit(ObjectId::Store::Properties, error)) return false;
    if (current == ObjectId::Store::Properties && propertyHitRows == 0) current = ObjectId::Store::Hits;
    return true;
  }

  bool removeStale(ObjectId::Store store, platform::Error& error) {
    auto& database = db(store);
    if (!database.beginChanges(error)) return false;
    auto remove = database.prepare("DELETE FROM ANHit WHERE timestamp <= ?1", error);
    if (!remove) return false;
    sqlite3_bind_double(remove.get(), 1, platform::Date::now().timeIntervalSince1970() - kStaleHitAge);
    if (!database.run(remove, error)) return false;
    rows(store) -= sqlite3_changes(database.handle());
    return save(error);
  }

  std::optional<std::vector<HitRecord>> fetch(std::size_t limit, platform::Error& error) {
    bool old = current == ObjectId::Store::Properties;
    auto& database = db(current);
    auto statement = database.prepare(old ? "SELECT id, timestamp, parametersData, dispatchUrl, anVersion FROM ANHit"
                                            " ORDER BY timestamp, id LIMIT ?1"
                                          : "SELECT id, timestamp, parameters FROM ANHit ORDER BY timestamp, id LIMIT ?1",
                                      error);
    if (!statement) return std::nullopt;
    sqlite3_bind_int64(statement.get(), 1, limit == 0 ? -1 : static_cast<std::int64_t>(limit));
    std::vector<HitRecord> records;
    std::vector<ObjectId> unreadable;
    int rc;
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
      sqlite3_stmt* row = statement.get();
      ObjectId id{current, sqlite3_column_int64(row, 0)};
      std::optional<HitRecord> record;
      if (old) {
        record = DataStore::oldHitDescription({platform::Date(sqlite3_column_double(row, 1)), columnText(row, 2),
                                               columnText(row, 3), columnText(row, 4), id});
      } else if (auto parameters = decodeParameterArchive(columnText(row, 2))) {
        record = HitRecord{std::nullopt, std::move(*parameters), id};
        if (sqlite3_column_type(row, 1) != SQLITE_NULL) record->timestamp = platform::Date(sqlite3_column_double(row, 1));
      }
      if (record) {
        records.push_back(std::move(*record));
      } else {
        unreadable.push_back(id);
      }
    }
    if (rc != SQLITE_DONE) {
      error = database.lastError("fetch");
      return std::nullopt;
    }
    // A record that cannot be read would never be sent: drop it now.
    for (const auto& id : unreadable) {
      deliver(platform::makeError(detail::kSqliteErrorDomain, SQLITE_CORRUPT, "unreadable hit dropped"), nullptr);
      platform::Error ignored;
      deleteRow(id, ignored);
    }
    return records;
  }
};

DataStore::DataStore(Options options) {
  auto& thread = options.thread ? *options.thread : Analytics::thread();
  auto directory = options.directory.empty() ? platform::Sandbox::library() : options.directory;
  impl_ = std::make_shared<Impl>(thread, std::move(directory), options.maxHitCount);
  thread.perform([impl = impl_] { impl->setUp(); }, platform::EventLoopThread::Wait::No);
  auto& center = platform::NotificationCenter::defaultCenter();
  auto onExit = [weak = std::weak_ptr<Impl>(impl_)](const platform::Notification&) {
    if (auto impl = weak.lock()) {
      impl->perform<bool>(
          [&](platform::Error& e) -> std::optional<bool> {
            if (!impl->save(e)) return std::nullopt;
            return true;
          },
          nullptr);
    }
  };
  resignObserver_ =
      platform::ScopedObserver(center, center.addObserver(platform::kApplicationWillResignActiveNotification, onExit));
  terminateObserver_ =
      platform::ScopedObserver(center, center.addObserver(platform::kApplicationWillTerminateNotification, onExit));
}

DataStore::~DataStore() {
  resignObserver_.reset();
  terminateObserver_.reset();
  auto close = [impl = impl_] {
    impl->hits.close();
    impl->properties.close();
  };
  if (impl_->thread.runsOnCurrentThread()) {
    close();
  } else {
    impl_->thread.perform(close, platform::EventLoopThread::Wait::Yes);
  }
}

std::unique_ptr<DataStore> DataStore::dataStore() { return std::make_unique<DataStore>(Options{}); }

std::filesystem::path DataStore::databaseFullPath(const std::filesystem::path& directory, const std::string& name) {
  return directory / name;
}

std::string DataStore::clientId() {
  std::unique_lock lock(impl_->idMutex);
  if (!impl_->clientId && !impl_->thread.runsOnCurrentThread()) {
    impl_->idKnown.wait(lock, [&] { return impl_->setUpFinished; });
  }
  return impl_->clientId.value_or("");
}

void DataStore::setClientId(const std::string& clientId) {
  {
    std::lock_guard lock(impl_->idMutex);
    impl_->clientId = clientId;
  }
  impl_->perform<bool>(
      [&](platform::Error& error) -> std::optional<bool> {
        if (!impl_->writeClientId(clientId, error)) return std::nullopt;
        return true;
      },
      nullptr);
}

std::optional<std::string> DataStore::fetchClientId() {
  auto result = impl_->perform<std::optional<std::string>>(
      [&](platform::Error& error) -> std::optional<std::optional<std::string>> {
        auto id = impl_->readClientId(error);
        if (!id && !error.domain.empty()) return std::nullopt;
        return id;
      },
      nullptr);
  return result ? *result : std::nullopt;
}

void DataStore::addHit(const HitRecord& hit, platform::Error* error) {
  impl_->perform<bool>(
      [&](platform::Error& e) -> std::optional<bool> {
        if (!impl_->insertHit(hit, e)) return std::nullopt;
        return true;
      },
      error);
}

std::int64_t DataStore::hitCount(platform::Error* error) {
  return impl_->perform<std::int64_t>([&](platform::Error& e) { return impl_->count(e); }, error).value_or(-1);
}

std::optional<std::vector<HitRecord>> DataStore::fetchHits(std::size_t limit, platform::Error* error) {
  return impl_->perform<std::vector<HitRecord>>([&](platform::Error& e) { return impl_->fetch(limit, e); }, error);
}

bool DataStore::deleteHits(const std::vector<ObjectId>& ids, platform::Error* error) {
  return impl_
      ->perform<bool>(
          [&](platform::Error& e) -> std::optional<bool> {
            for (const auto& id : ids) {
              if (!impl_->deleteRow(id, e)) return std::nullopt;
            }
            return true;
          },
          error)
      .has_value();
}

bool DataStore::deleteAllHits(platform::Error* error) {
  return impl_
      ->perform<bool>(
          [&](platform::Error& e) -> std::optional<bool> {
            if (!impl_->deleteAll(e)) return std::nullopt;
            return true;
          },
          error)
      .has_value();
}

bool DataStore::save(platform::Error* error) {
  return impl_
      ->perform<bool>(
          [&](platform::Error& e) -> std::optional<bool> {
            if (!impl_->save(e)) return std::nullopt;
            return true;
          },
          error)
      .has_value();
}

bool DataStore::deleteExcessHits(platform::Error* error) {
  return impl_
      ->perform<bool>(
          [&](platform::Error& e) -> std::optional<bool> {
            if (!impl_->deleteExcess(e)) return std::nullopt;
            return true;
          },
          error)
      .has_value();
}

bool DataStore::removeStaleHits(ObjectId::Store store, platform::Error* error) {
  return impl_
      ->perform<bool>(
          [&](platform::Error& e) -> std::optional<bool> {
            if (!impl_->removeStale(store, e)) return std::nullopt;
            return true;
          },
          error)
      .has_value();
}

bool DataStore::isSetUp() {
  return impl_->perform<bool>([&](platform::Error&) -> std::optional<bool> { return impl_->setUpOk; }, nullptr)
      .value_or(false);
}

bool DataStore::isDrainingOldHits() {
  return impl_
      ->perform<bool>(
          [&](platform::Error&) -> std::optional<bool> { return impl_->current == ObjectId::Store::Properties; },
          nullptr)
      .value_or(false);
}

std::uint64_t DataStore::maxHitCount() const { return impl_->maxHitCount.load(); }
void DataStore::setMaxHitCount(std::uint64_t count) { impl_->maxHitCount.store(count); }
const std::filesystem::path& DataStore::directory() const { return impl_->directory; }

std::optional<HitRecord> DataStore::oldHitDescription(const OldHitRecord& old) {
  auto decoded = decodeParameterArchive(old.parametersData);
  if (!decoded) return std::nullopt;
  HitRecord record;
  record.timestamp = old.timestamp;
  record.objectId = old.objectId;
  record.parameters.reserve(decoded->size() + 2);
  for (auto& [name, value] : *decoded) record.parameters.set("&" + name, std::move(value));
  if (old.dispatchUrl.rfind("http:", 0) == 0) record.parameters.set(kUseSecureKey, platform::Value("0"));
  record.parameters.set(kAnVersionKey, platform::Value(old.anVersion));
  return record;
}

}  // namespace analytics
