#include "data_store.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "analytics/analytics.hpp"
#include "analytics/logger.hpp"
#include "parameter_archive.hpp"
#include "platform/application_notifications.hpp"
#include "platform/event_loop_thread.hpp"
#include "platform/log.hpp"
#include "platform/notification_center.hpp"
#include "support/scratch_directory.hpp"

namespace analytics {
namespace {

using platform::Value;

class DataStoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<DataStore> open(std::uint64_t maxHitCount = 2000) {
    DataStore::Options options;
    options.maxHitCount = maxHitCount;
    options.directory = dir.path();
    options.thread = &thread;
    return std::make_unique<DataStore>(options);
  }
  static HitRecord hit(double timestamp, const std::string& screen) {
    return HitRecord{platform::Date(timestamp), {{"&t", Value("appview")}, {"&cd", Value(screen)}}, std::nullopt};
  }
  // Writes previous-generation hits straight into the property file.
  void writeOldHits(const std::vector<std::tuple<double, std::string, std::string>>& hits) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.path() / kPropertyStoreFileName).c_str(), &db), SQLITE_OK);
    for (const auto& [timestamp, screen, url] : hits) {
      sqlite3_stmt* insert = nullptr;
      sqlite3_prepare_v2(db, "INSERT INTO ANHit (timestamp, parametersData, dispatchUrl, anVersion) VALUES (?,?,?,?)",
                         -1, &insert, nullptr);
      auto archive = encodeParameterArchive({{"t", Value("appview")}, {"cd", Value(screen)}});
      sqlite3_bind_double(insert, 1, timestamp);
      sqlite3_bind_blob(insert, 2, archive.data(), static_cast<int>(archive.size()), SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 3, url.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 4, "2.0", -1, SQLITE_STATIC);
      ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
      sqlite3_finalize(insert);
    }
    sqlite3_close(db);
  }

  test_support::ScratchDirectory dir;
  platform::EventLoopThread thread{"ANThread-test"};
};

TEST_F(DataStoreTest, FreshInstallationCreatesBothFilesAndKeepsTheClientId) {
  std::string id;
  {
    auto store = open();
    id = store->clientId();
    EXPECT_TRUE(store->isSetUp());
    EXPECT_EQ(store->fetchClientId(), id);
  }
  EXPECT_TRUE(std::filesystem::exists(dir.path() / kPropertyStoreFileName));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / kHitStoreFileName));
  EXPECT_EQ(open()->clientId(), id);
}

TEST_F(DataStoreTest, HitsComeBackOldestFirstAndSurviveARestart) {
  {
    auto store = open();
    auto now = platform::Date::now().timeIntervalSince1970();
    store->addHit(hit(now - 10, "B"));
    store->addHit(hit(now - 20, "A"));
    store->addHit(hit(now - 5, "C"));
    auto unsaved = store->fetchHits(0);  // unsaved changes are visible
    ASSERT_TRUE(unsaved);
    EXPECT_EQ(unsaved->size(), 3u);
    EXPECT_TRUE(store->save());
  }
  auto store = open();
  auto hits = store->fetchHits(2);
  ASSERT_TRUE(hits);
  ASSERT_EQ(hits->size(), 2u);
  EXPECT_EQ((*hits)[0].parameters.get("&cd"), Value("A"));
  EXPECT_EQ((*hits)[1].parameters.get("&cd"), Value("B"));
  EXPECT_TRUE(store->deleteHits({*(*hits)[0].objectId, *(*hits)[0].objectId}));
  EXPECT_EQ(store->hitCount(), 2);
  EXPECT_TRUE(store->deleteAllHits());
  EXPECT_TRUE(store->save());
  EXPECT_EQ(store->hitCount(), 0);
}

TEST_F(DataStoreTest, SaveCapsTheStoreAtTwoThousandDroppingTheOldestInBatches) {
  Analytics::sharedLogger()->setLogLevel(LogLevel::Verbose);
  auto store = open();
  platform::LogCapture log;
  for (int i = 0; i < 2000; ++i) store->addHit(hit(1e9 + i, std::to_string(i)));
  EXPECT_TRUE(store->save());
  EXPECT_EQ(store->hitCount(), 2000);
  EXPECT_FALSE(log.contains("Deleting excess hits."));
  for (int i = 2000; i < 2003; ++i) store->addHit(hit(1e9 + i, std::to_string(i)));
  EXPECT_EQ(store->hitCount(), 2003);
  EXPECT_TRUE(store->save());
  // Room for a batch of 20 (a hundredth of the cap), the oldest first.
  EXPECT_EQ(store->hitCount(), 1983);
  EXPECT_EQ(store->fetchHits(1)->at(0).parameters.get("&cd"), Value("20"));
  EXPECT_TRUE(log.contains("Deleting excess hits."));
  // The next 17 saves delete nothing, the one after deletes a batch again.
  for (int i = 2003; i < 2020; ++i) {
    store->addHit(hit(1e9 + i, std::to_string(i)));
    store->save();
  }
  EXPECT_EQ(store->hitCount(), 2000);
  store->addHit(hit(1e9 + 2020, "2020"));
  store->save();
  EXPECT_EQ(store->hitCount(), 1981);
  store.reset();
  EXPECT_EQ(open()->hitCount(), 1981);
  Analytics::sharedLogger()->setLogLevel(LogLevel::Warning);
}

// A small cap still evicts in batches (a tenth of it, up to 10 hits), so a
// full store does not pay a deletion with every hit; the smallest caps keep
// every hit they can.
TEST_F(DataStoreTest, SmallCapsEvictATenthOfTheCapAtOnceUpToTenHits) {
  for (const auto& [cap, keptAfterOneOver] : std::vector<std::pair<int, int>>{{100, 91}, {50, 46}, {9, 9}}) {
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directories(dir.path());
    auto store = open(static_cast<std::uint64_t>(cap));
    for (int i = 0; i <= cap; ++i) store->addHit(hit(1e9 + i, std::to_string(i)));
    EXPECT_TRUE(store->save());
    EXPECT_EQ(store->hitCount(), keptAfterOneOver) << "cap " << cap;
    EXPECT_EQ(store->fetchHits(1)->at(0).parameters.get("&cd"), Value(std::to_string(cap + 1 - keptAfterOneOver)))
        << "cap " << cap;
  }
}

TEST_F(DataStoreTest, CorruptHitFileIsReplacedAndTheClientIdSurvives) {
  std::string id;
  {
    auto store = open();
    id = store->clientId();
    store->addHit(hit(platform::Date::now().timeIntervalSince1970(), "A"));
    store->save();
  }
  {
    std::ofstream garbage(dir.path() / kHitStoreFileName, std::ios::binary | std::ios::trunc);
    garbage << std::string(8192, '\x5a');
  }
  platform::LogCapture log;
  auto store = open();
  EXPECT_EQ(store->clientId(), id);
  EXPECT_TRUE(store->isSetUp());
  EXPECT_TRUE(log.contains("Corrupted database with URL"));
  EXPECT_EQ(store->hitCount(), 0);
  store->addHit(hit(platform::Date::now().timeIntervalSince1970(), "B"));
  EXPECT_TRUE(store->save());
  EXPECT_EQ(store->hitCount(), 1);
}

TEST_F(DataStoreTest, PreviousGenerationHitsAreConvertedAndFetchedFirst) {
  open().reset();  // creates both files with their schemas
  auto now = platform::Date::now().timeIntervalSince1970();
  writeOldHits({{now - 100, "old-plain", "http://www.analytics.test/collect"},
                {now - 90, "old-secure", "https://ssl.analytics.test/collect"},
                {now - 31 * 86400, "old-stale", "http://www.analytics.test/collect"}});
  auto store = open();
  store->addHit(hit(now - 1000, "new-but-older"));
  store->save();
  EXPECT_TRUE(store->isDrainingOldHits());
  EXPECT_EQ(store->hitCount(), 3);  // two old (the stale one is gone) and one new
  auto hits = store->fetchHits(20);
  ASSERT_TRUE(hits);
  ASSERT_EQ(hits->size(), 2u);
  EXPECT_EQ((*hits)[0].parameters.get("&cd"), Value("old-plain"));
  EXPECT_EQ((*hits)[0].parameters.get("useSecure"), Value("0"));
  EXPECT_EQ((*hits)[0].parameters.get("anVersion"), Value("2.0"));
  EXPECT_FALSE((*hits)[1].parameters.contains("useSecure"));
  store->deleteHits({*(*hits)[0].objectId, *(*hits)[1].objectId});
  store->save();
  EXPECT_FALSE(store->isDrainingOldHits());
  auto rest = store->fetchHits(20);
  ASSERT_EQ(rest->size(), 1u);
  EXPECT_EQ(rest->at(0).parameters.get("&cd"), Value("new-but-older"));
}

TEST_F(DataStoreTest, StaleHitsAreRemovedAndTheTerminateNotificationSaves) {
  auto store = open();
  auto now = platform::Date::now().timeIntervalSince1970();
  store->addHit(hit(now - 2592000 - 1, "stale"));
  store->addHit(hit(now, "fresh"));
  platform::NotificationCenter::defaultCenter().post(platform::kApplicationWillTerminateNotification);
  EXPECT_TRUE(store->removeStaleHits(ObjectId::Store::Hits));
  store.reset();
  auto reopened = open();
  auto hits = reopened->fetchHits(0);
  ASSERT_EQ(hits->size(), 1u);
  EXPECT_EQ(hits->at(0).parameters.get("&cd"), Value("fresh"));
}

}  // namespace
}  // namespace analytics
