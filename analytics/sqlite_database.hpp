#pragma once
// A small SQLite connection for the hit store: opening with a schema check,
// cached prepared statements, and an implicit write transaction that stands
// for "unsaved changes" until commit().

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/error.hpp"

namespace analytics::detail {

// One statement, reset when the handle goes away.
class Statement {
 public:
  explicit Statement(sqlite3_stmt* statement) : statement_(statement) {}
  ~Statement() {
    if (statement_) {
      sqlite3_reset(statement_);
      sqlite3_clear_bindings(statement_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  explicit operator bool() const { return statement_ != nullptr; }
  sqlite3_stmt* get() const { return statement_; }

 private:
  sqlite3_stmt* statement_;
};

class SqliteDatabase {
 public:
  struct Schema {
    int version;             // kept in PRAGMA user_version
    const char* createSql;   // run once on a new file
    const char* checkSql;    // must prepare on a file of this schema
  };

  SqliteDatabase() = default;
  ~SqliteDatabase();
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  // Opens (creating when missing) the file with WAL journaling and checks it
  // holds `schema`. On failure the connection is closed and `error` says why.
  bool open(const std::filesystem::path& path, const Schema& schema, platform::Error& error);
  bool isOpen() const { return db_ != nullptr; }
  void close();

  // A cached statement, reset after use; an empty one on failure (error set).
  Statement prepare(const char* sql, platform::Error& error);
  bool exec(const char* sql, platform::Error& error);
  // Steps a statement that returns no rows.
  bool run(Statement& statement, platform::Error& error);

  // Starts the write transaction when none is open.
  bool beginChanges(platform::Error& error);
  bool hasChanges() const;
  // Commits the open transaction; on failure it is rolled back.
  bool commit(platform::Error& error);

  platform::Error lastError(const char* what) const;
  sqlite3* handle() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
  std::map<const char*, sqlite3_stmt*> statements_;
};

// Deletes a database file and its WAL companions.
void removeDatabaseFiles(const std::filesystem::path& path);

inline constexpr const char* kSqliteErrorDomain = "AnalyticsDatastore";

}  // namespace analytics::detail
