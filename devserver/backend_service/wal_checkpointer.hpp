#pragma once

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

struct sqlite3;

namespace devserver::backend {

// Copies a WAL database's log back into the database file on a thread of its
// own, with a connection of its own. Left to SQLite, the commit that fills the
// log past its threshold does the copy and two syncs itself, and the request
// behind that commit waits tens of milliseconds longer than its neighbours.
class WalCheckpointer {
 public:
  // The log's length, in pages, that starts a copy (SQLite's own default).
  static constexpr int kPagesBeforeCheckpoint = 1000;
  // Under writes that never pause the copies cannot catch up with the log;
  // past this length the committing connection copies it while it holds the
  // write lock, as SQLite would have.
  static constexpr int kPagesBeforeInlineCheckpoint = 16 * kPagesBeforeCheckpoint;

  // Takes over the checkpoints of `db`, the WAL database at `path`, until it
  // goes away. Throws std::runtime_error when its own connection cannot open.
  WalCheckpointer(sqlite3* db, const std::filesystem::path& path, int pagesBeforeCheckpoint = kPagesBeforeCheckpoint,
                  int pagesBeforeInlineCheckpoint = kPagesBeforeInlineCheckpoint);
  // Hands checkpoints back to `db`, at SQLite's own threshold, after the
  // last copy ends.
  ~WalCheckpointer();
  WalCheckpointer(const WalCheckpointer&) = delete;
  WalCheckpointer& operator=(const WalCheckpointer&) = delete;

 private:
  static int afterCommit(void* self, sqlite3* db, const char* schema, int pagesInLog);
  void copyWhenDue();

  sqlite3* db_;
  sqlite3* own_ = nullptr;
  const int pagesBeforeCheckpoint_;
  const int pagesBeforeInlineCheckpoint_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool due_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace devserver::backend
