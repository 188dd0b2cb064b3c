#include "wal_checkpointer.hpp"

#include <sqlite3.h>

#include <stdexcept>
#include <string>

namespace devserver::backend {

WalCheckpointer::WalCheckpointer(sqlite3* db, const std::filesystem::path& path, int pagesBeforeCheckpoint,
                                 int pagesBeforeInlineCheckpoint)
    : db_(db), pagesBeforeCheckpoint_(pagesBeforeCheckpoint), pagesBeforeInlineCheckpoint_(pagesBeforeInlineCheckpoint) {
  if (sqlite3_open_v2(path.c_str(), &own_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::string message = own_ ? sqlite3_errmsg(own_) : "out of memory";
    sqlite3_close(own_);
    throw std::runtime_error("cannot open " + path.string() + " for checkpoints: " + message);
  }
  // A connection learns that the database keeps a log only when it first
  // reads; until then its checkpoints do nothing.
  sqlite3_exec(own_, "PRAGMA schema_version", nullptr, nullptr, nullptr);
  thread_ = std::thread([this] { copyWhenDue(); });
  // Replaces SQLite's own checkpoint on commit.
  sqlite3_wal_hook(db_, &WalCheckpointer::afterCommit, this);
}

WalCheckpointer::~WalCheckpointer() {
  sqlite3_wal_autocheckpoint(db_, kPagesBeforeCheckpoint);
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
  sqlite3_close(own_);
}

int WalCheckpointer::afterCommit(void* self, sqlite3* db, const char* schema, int pagesInLog) {
  auto& checkpointer = *static_cast<WalCheckpointer*>(self);
  if (pagesInLog >= checkpointer.pagesBeforeInlineCheckpoint_) {
    // Busy while the thread copies; the next commit tries again.
    sqlite3_wal_checkpoint_v2(db, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  } else if (pagesInLog >= checkpointer.pagesBeforeCheckpoint_) {
    {
      std::lock_guard lock(checkpointer.mutex_);
      checkpointer.due_ = true;
    }
    checkpointer.wake_.notify_one();
  }
  return SQLITE_OK;
}

void WalCheckpointer::copyWhenDue() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return due_ || stopping_; });
    if (stopping_) return;
    due_ = false;
    lock.unlock();
    // Passive: it copies what is committed and never waits for the writer.
    sqlite3_wal_checkpoint_v2(own_, "main", SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    lock.lock();
  }
}

}  // namespace devserver::backend
