#include "statement_cache.hpp"

#include <sqlite3.h>

#include <stdexcept>

namespace devserver::backend {

StatementCache::~StatementCache() {
  for (auto& entry : idle_) sqlite3_finalize(entry.second);
}

sqlite3_stmt* StatementCache::lend(const std::string& sql) {
  auto kept = idle_.find(sql);
  if (kept != idle_.end()) {
    sqlite3_stmt* statement = kept->second;
    idle_.erase(kept);
    return statement;
  }
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    throw std::runtime_error(std::string("sqlite: ") + sqlite3_errmsg(db_));
  }
  return statement;
}

void StatementCache::giveBack(const std::string& sql, sqlite3_stmt* statement) {
  // Reset ends the statement's read of the database; an error it repeats
  // was already reported by the step that failed.
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  // Orders built from a client's keys make many texts: keep a bounded set.
  if (idle_.size() >= kMaxKept || !idle_.emplace(sql, statement).second) sqlite3_finalize(statement);
}

}  // namespace devserver::backend
