#include "wal_checkpointer.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <climits>
#include <string>

#include "support/eventually.hpp"
#include "support/scratch_directory.hpp"

namespace devserver::backend {
namespace {

constexpr std::uintmax_t kPageBytes = 4096;

// A WAL database with one table, on the connection a store would write with.
class WalDatabase {
 public:
  explicit WalDatabase(const std::filesystem::path& path) : path_(path) {
    EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK);
    run("PRAGMA journal_mode=WAL");
    run("CREATE TABLE rows (body BLOB)");
  }
  ~WalDatabase() { sqlite3_close(db_); }

  // One commit of `count` rows of about a page each.
  void insertRows(int count) {
    run("BEGIN");
    for (int i = 0; i < count; ++i) run("INSERT INTO rows VALUES (zeroblob(4000))");
    run("COMMIT");
  }
  // Pages the database file itself holds, without its log.
  std::uintmax_t pagesInFile() const { return std::filesystem::file_size(path_) / kPageBytes; }
  sqlite3* handle() const { return db_; }

 private:
  void run(const char* sql) { ASSERT_EQ(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sql; }

  std::filesystem::path path_;
  sqlite3* db_ = nullptr;
};

TEST(WalCheckpointer, CopiesALongLogIntoTheDatabaseOnItsOwnThread) {
  test_support::ScratchDirectory dir;
  WalDatabase database(dir / "data.sqlite");
  WalCheckpointer checkpointer(database.handle(), dir / "data.sqlite", 32, INT_MAX);

  database.insertRows(16);  // below the threshold: stays in the log
  database.insertRows(40);
  EXPECT_TRUE(test_support::eventually([&] { return database.pagesInFile() >= 56; }))
      << "the file holds " << database.pagesInFile() << " pages";
}

TEST(WalCheckpointer, TheCommitCopiesItselfOnceTheLogOutgrowsTheThread) {
  test_support::ScratchDirectory dir;
  WalDatabase database(dir / "data.sqlite");
  WalCheckpointer checkpointer(database.handle(), dir / "data.sqlite", INT_MAX, 32);

  database.insertRows(16);
  EXPECT_LT(database.pagesInFile(), 16u);
  database.insertRows(40);
  EXPECT_GE(database.pagesInFile(), 56u);  // no waiting: the commit itself copied
}

TEST(WalCheckpointer, HandsCheckpointsBackWhenItGoes) {
  test_support::ScratchDirectory dir;
  WalDatabase database(dir / "data.sqlite");
  { WalCheckpointer checkpointer(database.handle(), dir / "data.sqlite", INT_MAX, INT_MAX); }

  database.insertRows(WalCheckpointer::kPagesBeforeCheckpoint + 10);
  EXPECT_GE(database.pagesInFile(), std::uintmax_t(WalCheckpointer::kPagesBeforeCheckpoint));
}

}  // namespace
}  // namespace devserver::backend
