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

StoredObject note(const std::string& id, std::int64_t created) {
  StoredObject object;
  object.className = "Note";
  object.objectId = id;
  object.fields = Json{{"text", id}};
  object.createdAt = object.updatedAt = created;
  return object;
}

// Statements are kept for reuse; one still reading must not be handed out
// again to a visitor that asks the store the same question.
TEST_F(ObjectStoreTest, AScanInsideAScanOfTheSameClassReadsEveryObjectInBoth) {
  ObjectStore store(dir_);
  for (int i = 0; i < 3; ++i) store.put(note("n" + std::to_string(i), i));
  std::vector<std::string> pairs;
  store.scan("Note", {}, [&](StoredObject&& outer) {
    store.scan("Note", {}, [&](StoredObject&& inner) {
      pairs.push_back(outer.objectId + inner.objectId);
      return true;
    });
    return true;
  });
  EXPECT_EQ(pairs, (std::vector<std::string>{"n0n0", "n0n1", "n0n2", "n1n0", "n1n1", "n1n2", "n2n0", "n2n1", "n2n2"}));
  // A scan stopped early leaves its statement ready for the next one.
  int seen = 0;
  store.scan("Note", {}, [&](StoredObject&&) { return ++seen < 2; });
  EXPECT_EQ(store.all("Note").size(), 3u);
}

TEST_F(ObjectStoreTest, AStatementThatFailedServesItsNextUse) {
  ObjectStore store(dir_);
  store.addSession("token", "u1");
  EXPECT_THROW(store.addSession("token", "u2"), std::runtime_error);  // the token is taken
  store.addSession("other", "u2");
  EXPECT_EQ(store.userForSession("token"), "u1");
  EXPECT_EQ(store.userForSession("other"), "u2");
}

TEST_F(ObjectStoreTest, AnInnerTransactionRollsBackAloneAndTheOuterCommits) {
  ObjectStore store(dir_);
  {
    ObjectStore::Transaction outer(store);
    store.put(note("kept", 1));
    {
      ObjectStore::Transaction inner(store);
      store.put(note("dropped", 2));
    }
    {
      ObjectStore::Transaction inner(store);
      store.put(note("committed", 3));
      inner.commit();
    }
    outer.commit();
  }
  {
    ObjectStore::Transaction abandoned(store);
    store.put(note("abandoned", 4));
  }
  EXPECT_TRUE(store.find("Note", "kept"));
  EXPECT_TRUE(store.find("Note", "committed"));
  EXPECT_FALSE(store.find("Note", "dropped"));
  EXPECT_FALSE(store.find("Note", "abandoned"));
}

}  // namespace
}  // namespace devserver::backend
