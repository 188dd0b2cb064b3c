#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace devserver::backend {

// Prepared statements kept for reuse: preparing one costs more than most of
// the store's statements take to run. A statement is lent to one user at a
// time; a second user of the same SQL meanwhile (a scan whose visitor asks
// the store again) gets one of its own. Not thread-safe, like the store.
class StatementCache {
 public:
  static constexpr std::size_t kMaxKept = 128;

  explicit StatementCache(sqlite3* db) : db_(db) {}
  ~StatementCache();
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;

  // A prepared statement for `sql`, reset and unbound. Throws
  // std::runtime_error when SQLite cannot prepare it.
  sqlite3_stmt* lend(const std::string& sql);
  // Takes a lent statement back, reset for its next user.
  void giveBack(const std::string& sql, sqlite3_stmt* statement);

  sqlite3* database() const { return db_; }

 private:
  sqlite3* db_;
  std::unordered_map<std::string, sqlite3_stmt*> idle_;
};

}  // namespace devserver::backend
