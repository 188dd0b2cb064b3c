#include "sqlite_database.hpp"

#include <system_error>

namespace analytics::detail {

namespace {

platform::Error makeSqliteError(int code, const std::string& message) {
  return platform::makeError(kSqliteErrorDomain, code, message);
}

}  // namespace

SqliteDatabase::~SqliteDatabase() { close(); }

void SqliteDatabase::close() {
  for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
  statements_.clear();
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

platform::Error SqliteDatabase::lastError(const char* what) const {
  if (!db_) return makeSqliteError(SQLITE_CANTOPEN, std::string(what) + ": no database");
  return makeSqliteError(sqlite3_extended_errcode(db_), std::string(what) + ": " + sqlite3_errmsg(db_));
}

bool SqliteDatabase::open(const std::filesystem::path& path, const Schema& schema, platform::Error& error) {
  close();
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    error = lastError("open");
    close();
    return false;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, 2000);
  // WAL with synchronous=NORMAL: a commit is one append to the log without an
  // fsync, so a crash of the process loses nothing and a power cut loses at
  // most the last commits, never the file's consistency.
  bool ok = exec("PRAGMA journal_mode=WAL", error) && exec("PRAGMA synchronous=NORMAL", error);
  if (ok) {
    // A file whose pages are damaged must be replaced now, not fail every
    // operation later.
    sqlite3_stmt* check = nullptr;
    ok = sqlite3_prepare_v2(db_, "PRAGMA quick_check", -1, &check, nullptr) == SQLITE_OK &&
         sqlite3_step(check) == SQLITE_ROW && sqlite3_column_text(check, 0) != nullptr &&
         std::string(reinterpret_cast<const char*>(sqlite3_column_text(check, 0))) == "ok";
    sqlite3_finalize(check);
    if (!ok) error = makeSqliteError(SQLITE_CORRUPT, "integrity check failed");
  }
  int version = -1;
  if (ok) {
    sqlite3_stmt* query = nullptr;
    ok = sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &query, nullptr) == SQLITE_OK &&
         sqlite3_step(query) == SQLITE_ROW;
    if (ok) version = sqlite3_column_int(query, 0);
    sqlite3_finalize(query);
    if (!ok) error = lastError("user_version");
  }
  if (ok && version == 0) {
    ok = exec(schema.createSql, error) &&
         exec(("PRAGMA user_version=" + std::to_string(schema.version)).c_str(), error);
  } else if (ok && version != schema.version) {
    error = makeSqliteError(SQLITE_CORRUPT, "unexpected schema version " + std::to_string(version));
    ok = false;
  }
  if (ok) {
    sqlite3_stmt* probe = nullptr;
    ok = sqlite3_prepare_v2(db_, schema.checkSql, -1, &probe, nullptr) == SQLITE_OK;
    if (!ok) error = lastError("schema");
    sqlite3_finalize(probe);
  }
  if (!ok) close();
  return ok;
}

Statement SqliteDatabase::prepare(const char* sql, platform::Error& error) {
  if (!db_) {
    error = lastError("prepare");
    return Statement(nullptr);
  }
  auto it = statements_.find(sql);
  if (it != statements_.end()) return Statement(it->second);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK) {
    error = lastError("prepare");
    sqlite3_finalize(statement);
    return Statement(nullptr);
  }
  statements_.emplace(sql, statement);
  return Statement(statement);
}

bool SqliteDatabase::exec(const char* sql, platform::Error& error) {
  if (!db_) {
    error = lastError("exec");
    return false;
  }
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    error = makeSqliteError(sqlite3_extended_errcode(db_), message ? message : "exec failed");
    sqlite3_free(message);
    return false;
  }
  return true;
}

bool SqliteDatabase::run(Statement& statement, platform::Error& error) {
  int rc = sqlite3_step(statement.get());
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
    error = lastError("step");
    return false;
  }
  return true;
}

bool SqliteDatabase::beginChanges(platform::Error& error) {
  if (hasChanges()) return true;
  auto begin = prepare("BEGIN IMMEDIATE", error);
  return begin && run(begin, error);
}

bool SqliteDatabase::hasChanges() const { return db_ && sqlite3_get_autocommit(db_) == 0; }

bool SqliteDatabase::commit(platform::Error& error) {
  if (!hasChanges()) return true;
  auto commitStatement = prepare("COMMIT", error);
  if (commitStatement && run(commitStatement, error)) return true;
  if (hasChanges()) {
    platform::Error ignored;
    exec("ROLLBACK", ignored);
  }
  return false;
}

void removeDatabaseFiles(const std::filesystem::path& path) {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    std::filesystem::remove(path.string() + suffix, ignored);
  }
}

}  // namespace analytics::detail
