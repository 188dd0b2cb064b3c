#include "object_store.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <random>

namespace devserver::backend {
namespace {

class ObjectStoreTest : public ::testing::Test {
 protected:
  ObjectStoreTest() {
    std::random_device random;
    dir_ = std::filesystem::temp_directory_path() / ("vv-store-test-" + std::to_string(random()));
  }
  ~ObjectStoreTest() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::filesystem::path dir_;
};

TEST_F(ObjectStoreTest, AUserKeepsItsNewestSessionsOnly) {
  ObjectStore store(dir_);
  for (int i = 0; i < ObjectStore::kMaxSessionsPerUser + 5; ++i) store.addSession("t" + std::to_string(i), "u1");
  store.addSession("other", "u2");
  EXPECT_FALSE(store.userForSession("t0"));
  EXPECT_FALSE(store.userForSession("t4"));
  EXPECT_EQ(store.userForSession("t5"), "u1");
  EXPECT_EQ(store.userForSession("t" + std::to_string(ObjectStore::kMaxSessionsPerUser + 4)), "u1");
  EXPECT_EQ(store.userForSession("other"), "u2");
}

TEST_F(ObjectStoreTest, PasswordResetRequestsAreBounded) {
  ObjectStore store(dir_);
  for (int i = 0; i < ObjectStore::kMaxResetsPerEmail + 3; ++i) store.recordPasswordReset("kari@vv.test");
  EXPECT_EQ(store.passwordResetCount("kari@vv.test"), ObjectStore::kMaxResetsPerEmail);
  store.recordPasswordReset("per@vv.test");
  EXPECT_EQ(store.passwordResetCount("per@vv.test"), 1);
}

TEST_F(ObjectStoreTest, UploadTicketsAreUsedOnce) {
  ObjectStore store(dir_);
  store.addUploadTicket("ticket", "name.txt");
  EXPECT_EQ(store.takeUploadTicket("ticket"), "name.txt");
  EXPECT_FALSE(store.takeUploadTicket("ticket"));
}

// A data folder from before sessions and tickets had a time keeps working.
TEST_F(ObjectStoreTest, OpensAFolderMadeBeforeStoresWereBounded) {
  std::filesystem::create_directories(dir_);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir_ / "backend.sqlite").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE sessions (token TEXT PRIMARY KEY, user_id TEXT NOT NULL);"
                         "INSERT INTO sessions VALUES ('old', 'u1');"
                         "CREATE TABLE upload_tickets (ticket TEXT PRIMARY KEY, name TEXT NOT NULL);"
                         "INSERT INTO upload_tickets VALUES ('t', 'n');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  ObjectStore store(dir_);
  EXPECT_EQ(store.userForSession("old"), "u1");
  EXPECT_EQ(store.takeUploadTicket("t"), "n");
  store.addSession("new", "u1");
  EXPECT_EQ(store.userForSession("new"), "u1");
}

}  // namespace
}  // namespace devserver::backend
