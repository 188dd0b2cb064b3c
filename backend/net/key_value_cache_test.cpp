#include "backend/net/key_value_cache.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <thread>
#include <mutex>
#include <string>
#include <vector>
#include <fstream>
#include <future>

#include "platform/notification_center.hpp"
#include "platform/sandbox.hpp"
#include "support/backend/object_fixture.hpp"
#include "support/manual_clock.hpp"
#include "support/scratch_directory.hpp"

namespace backend::net {
namespace {

class KeyValueCacheTest : public backend::testing::BackendTest {
 protected:
  // Starts at the real time: the files the cache writes carry real times.
  test_support::ManualClock clock_{std::chrono::system_clock::now()};
};

TEST_F(KeyValueCacheTest, AgeIsMeasuredInWholeSecondsFromMemoryAndDisk) {
  KeyValueCache cache("TestCache");
  cache.setObject("value", "key");
  EXPECT_EQ(cache.objectForKey("key", 0), std::optional<std::string>("value"));
  clock_.setNow(clock_.now() + std::chrono::seconds(10));
  EXPECT_FALSE(cache.objectForKey("key", 5));
  EXPECT_EQ(cache.objectForKey("key", 60), std::optional<std::string>("value"));
  cache.waitForDiskFlush();

  KeyValueCache restarted("TestCache");  // nothing in memory: the file's age counts
  EXPECT_FALSE(restarted.objectForKey("key", 5));
  EXPECT_EQ(restarted.objectForKey("key", 60), std::optional<std::string>("value"));
}

TEST_F(KeyValueCacheTest, UnsafeKeysStayInsideTheDirectory) {
  KeyValueCache cache("TestCache");
  auto directory = cache.cacheFileForKey("x").parent_path();
  const std::string keys[] = {"../escape", "/etc/passwd", "..", ".", std::string("a\0b", 3), "a/b/c", ""};
  for (const auto& key : keys) {
    auto path = cache.cacheFileForKey(key);
    EXPECT_EQ(path.parent_path(), directory) << key;
    cache.setObject("v:" + key, key);
  }
  cache.waitForDiskFlush();
  cache.clearMemCache();
  for (const auto& key : keys) EXPECT_EQ(cache.objectForKey(key, 60), std::optional<std::string>("v:" + key)) << key;
  EXPECT_FALSE(std::filesystem::exists(directory.parent_path() / "escape"));
  EXPECT_EQ(KeyValueCache::fileNameForKey("BECommand.2.find.2.0123abcd"), "BECommand.2.find.2.0123abcd");
  EXPECT_NE(KeyValueCache::fileNameForKey("a/b"), KeyValueCache::fileNameForKey("a_b"));
}

TEST_F(KeyValueCacheTest, KeysUpToTheNameLimitNameTheirFileAndLongerOnesAreHashed) {
  KeyValueCache cache("TestCache");
  const std::string longest(KeyValueCache::kMaxPlainFileName, 'k');
  const std::string tooLong = longest + "k";
  EXPECT_EQ(KeyValueCache::fileNameForKey(longest), longest);
  EXPECT_EQ(KeyValueCache::fileNameForKey(tooLong).front(), '%');
  cache.setObject("longest", longest);
  cache.setObject("too long", tooLong);
  cache.waitForDiskFlush();
  cache.clearMemCache();
  EXPECT_EQ(cache.objectForKey(longest, 60), std::optional<std::string>("longest"));
  EXPECT_EQ(cache.objectForKey(tooLong, 60), std::optional<std::string>("too long"));
}

TEST_F(KeyValueCacheTest, DiskReadsFollowTheSandboxRootWhenItMoves) {
  KeyValueCache cache("TestCache");
  cache.enableMemCache(false);
  cache.setObject("first root", "key");
  EXPECT_EQ(cache.objectForKey("key", 60), std::optional<std::string>("first root"));

  test_support::ScratchDirectory other;
  platform::Sandbox::setRoot(other.path());
  EXPECT_FALSE(cache.objectForKey("key", 60));
  cache.setObject("second root", "key");
  EXPECT_EQ(cache.objectForKey("key", 60), std::optional<std::string>("second root"));
  EXPECT_EQ(cache.cacheFileForKey("key").string().rfind(other.path().string(), 0), 0u);

  platform::Sandbox::setRoot(root_);
  EXPECT_EQ(cache.objectForKey("key", 60), std::optional<std::string>("first root"));
}

TEST_F(KeyValueCacheTest, RemovalClearsMemoryAndDiskAndMemoryWarningEmptiesMemory) {
  KeyValueCache cache("TestCache");
  cache.setObject("one", "k1");
  cache.waitForDiskFlush();
  std::filesystem::remove(cache.cacheFileForKey("k1"));
  EXPECT_EQ(cache.objectForKey("k1", 60), std::optional<std::string>("one"));  // from memory
  platform::NotificationCenter::defaultCenter().post(kMemoryWarningNotification);
  EXPECT_FALSE(cache.objectForKey("k1", 60));

  cache.setObject("two", "k2");
  cache.removeAllObjects();
  EXPECT_FALSE(cache.objectForKey("k2", 60));
  EXPECT_EQ(cache.diskCacheRecordCount(), 0u);
}

void setAccessTime(const std::filesystem::path& path, std::chrono::system_clock::time_point time) {
  const auto sinceEpoch = time.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  const timespec times[2] = {
      {static_cast<time_t>(seconds.count()),
       static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch - seconds).count())},
      {0, UTIME_OMIT}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

std::string key(int i) { return "key" + std::to_string(i); }

TEST_F(KeyValueCacheTest, EvictionFollowsTheCachesOwnAccessesNotFileAccessTimes) {
  KeyValueCache cache("TestCache");
  cache.enableMemCache(false);  // every read goes to disk
  cache.setMaxDiskCacheRecords(100);
  for (int i = 0; i < 100; ++i) cache.setObject("v", key(i));
  ASSERT_TRUE(cache.objectForKey(key(0), 60));  // key1 is now the least recently used
  // File access times that say the opposite (newest first) are ignored.
  const auto past = std::chrono::system_clock::now() - std::chrono::hours(2);
  for (int i = 0; i < 100; ++i) setAccessTime(cache.cacheFileForKey(key(i)), past - std::chrono::seconds(i));
  setAccessTime(cache.cacheFileForKey(key(0)), past - std::chrono::hours(100));
  cache.setObject("v", key(100));
  EXPECT_EQ(cache.diskCacheRecordCount(), 100u);
  EXPECT_TRUE(std::filesystem::exists(cache.cacheFileForKey(key(0))));
  EXPECT_FALSE(std::filesystem::exists(cache.cacheFileForKey(key(1))));

  cache.setMaxDiskCacheBytes(10);
  cache.setObject("0123456789", "big");
  EXPECT_EQ(cache.diskCacheRecordCount(), 1u);
  EXPECT_TRUE(std::filesystem::exists(cache.cacheFileForKey("big")));
}

TEST_F(KeyValueCacheTest, RecordsOfAnEarlierRunAreEvictedOldestAccessFirst) {
  {
    KeyValueCache earlier("TestCache");
    for (int i = 0; i < 5; ++i) earlier.setObject("v", key(i));
  }
  KeyValueCache cache("TestCache");
  const auto past = std::chrono::system_clock::now() - std::chrono::hours(2);
  for (int i : {0, 1, 2, 3, 4}) setAccessTime(cache.cacheFileForKey(key(i)), past + std::chrono::seconds(i));
  setAccessTime(cache.cacheFileForKey(key(0)), past + std::chrono::hours(1));  // read last by that run
  cache.setMaxDiskCacheRecords(4);
  cache.setObject("v", "new");  // this run's record is newer than all of them
  cache.waitForDiskFlush();
  EXPECT_TRUE(std::filesystem::exists(cache.cacheFileForKey(key(0))));
  EXPECT_FALSE(std::filesystem::exists(cache.cacheFileForKey(key(1))));
  EXPECT_FALSE(std::filesystem::exists(cache.cacheFileForKey(key(2))));
  EXPECT_TRUE(std::filesystem::exists(cache.cacheFileForKey("new")));
}

// Removes every record file behind the cache's back: what a read still
// answers came from memory.
std::vector<std::string> servedFromMemory(KeyValueCache& cache, int keys) {
  cache.waitForDiskFlush();
  std::filesystem::remove_all(cache.cacheFileForKey("x").parent_path());
  std::vector<std::string> served;
  for (int i = 0; i < keys; ++i) {
    if (cache.objectForKey(key(i), 60)) served.push_back(key(i));
  }
  return served;
}

TEST_F(KeyValueCacheTest, TheMemoryLayerKeepsTheMostRecentlyUsedWithinItsCountAndBytes) {
  KeyValueCache cache("TestCache");
  cache.setMaxMemCacheRecords(3);
  for (int i = 0; i < 4; ++i) cache.setObject("v" + std::to_string(i), key(i));
  EXPECT_EQ(cache.objectForKey(key(1), 60), std::optional<std::string>("v1"));  // key2 is now the oldest
  cache.setObject("v4", key(4));
  EXPECT_EQ(servedFromMemory(cache, 5), (std::vector<std::string>{key(1), key(3), key(4)}));

  KeyValueCache bytes("TestCache2");
  bytes.setMaxMemCacheBytes(3 * (4 + 10));  // three of these records
  for (int i = 0; i < 5; ++i) bytes.setObject(std::string(10, 'x'), key(i));
  EXPECT_EQ(servedFromMemory(bytes, 5), (std::vector<std::string>{key(2), key(3), key(4)}));
}

TEST_F(KeyValueCacheTest, ARecordEvictedFromDiskIsNotServedFromMemory) {
  KeyValueCache cache("TestCache");
  cache.setMaxDiskCacheRecords(2);
  for (int i = 0; i < 3; ++i) cache.setObject("v", key(i));
  EXPECT_EQ(cache.diskCacheRecordCount(), 2u);
  int served = 0;
  for (int i = 0; i < 3; ++i) served += cache.objectForKey(key(i), 60) ? 1 : 0;
  EXPECT_EQ(served, 2);
  EXPECT_FALSE(cache.objectForKey(key(0), 60));
}

// Holds every touch until released, so other disk work overlaps it.
class GatedTouchDelegate : public KeyValueDiskCacheDelegate {
 public:
  void touchDiskCache(const std::filesystem::path& path) override {
    std::unique_lock lock(mutex);
    entered = true;
    changed.notify_all();
    changed.wait(lock, [this] { return released; });
    KeyValueDiskCacheDelegate::touchDiskCache(path);
  }
  void waitUntilEntered() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return entered; });
  }
  void release() {
    std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool released = false;
};

TEST_F(KeyValueCacheTest, LimitsHoldWhenWritesOverlapATouch) {
  KeyValueCache cache("TestCache");
  auto gate = std::make_shared<GatedTouchDelegate>();
  cache.setDiskCacheDelegate(gate);
  cache.setMaxDiskCacheRecords(2);
  cache.setObject("v", key(0));
  cache.waitForDiskFlush();
  clock_.setNow(clock_.now() + std::chrono::seconds(60));
  ASSERT_TRUE(cache.objectForKey(key(0), 3600));
  std::thread writer([&] {
    gate->waitUntilEntered();
    for (int i = 1; i < 4; ++i) cache.setObject("v", key(i));
    gate->release();
  });
  writer.join();
  EXPECT_EQ(cache.diskCacheRecordCount(), 2u);
  int served = 0;
  for (int i = 0; i < 4; ++i) served += cache.objectForKey(key(i), 3600) ? 1 : 0;
  EXPECT_EQ(served, 2);
}

TEST_F(KeyValueCacheTest, ConcurrentReadersAndWritersStayWithinTheLimits) {
  KeyValueCache cache("TestCache");
  cache.setMaxDiskCacheRecords(20);
  cache.setMaxMemCacheRecords(10);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&cache, t] {
      for (int i = 0; i < 120; ++i) {
        const int k = (i * 7 + t) % 50;
        if (t % 2 == 0) {
          cache.setObject("value of " + key(k), key(k));
        } else if (auto value = cache.objectForKey(key(k), 3600)) {
          EXPECT_EQ(*value, "value of " + key(k));
        }
        if (i % 40 == 39) cache.removeObjectForKey(key(k));
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_LE(cache.diskCacheRecordCount(), 20u);
  // Every value memory still answers has its record on disk.
  for (int k = 0; k < 50; ++k) {
    if (cache.objectForKey(key(k), 3600)) {
      EXPECT_TRUE(std::filesystem::exists(cache.cacheFileForKey(key(k)))) << k;
    }
  }
}

// Records which files were touched, in order.
class RecordingDelegate : public KeyValueDiskCacheDelegate {
 public:
  void touchDiskCache(const std::filesystem::path& path) override {
    std::lock_guard lock(mutex);
    touched.push_back(path.filename().string());
  }
  std::mutex mutex;
  std::vector<std::string> touched;
};

TEST_F(KeyValueCacheTest, MemoryReadsTouchTheirRecordsOncePerIntervalInTheOrderOfTheLastRead) {
  KeyValueCache cache("TestCache");
  auto delegate = std::make_shared<RecordingDelegate>();
  cache.setDiskCacheDelegate(delegate);
  for (const char* key : {"a", "b", "c"}) cache.setObject(key, key);
  cache.waitForDiskFlush();
  // Just written: reading does not touch them again.
  for (const char* key : {"a", "b"}) ASSERT_TRUE(cache.objectForKey(key, 60));
  cache.waitForDiskFlush();
  EXPECT_TRUE(delegate->touched.empty());
  clock_.setNow(clock_.now() + std::chrono::seconds(KeyValueCache::kTouchIntervalSeconds));
  for (const char* key : {"a", "c", "a", "b"}) ASSERT_TRUE(cache.objectForKey(key, 3600));
  cache.waitForDiskFlush();
  std::lock_guard lock(delegate->mutex);
  auto lastTouch = [&](const std::string& key) {
    auto it = std::find(delegate->touched.rbegin(), delegate->touched.rend(), key);
    return it == delegate->touched.rend() ? -1 : static_cast<int>(delegate->touched.rend() - it);
  };
  // Once each within the interval, however the reads fell into batches.
  for (const char* key : {"a", "b", "c"}) {
    EXPECT_EQ(std::count(delegate->touched.begin(), delegate->touched.end(), key), 1) << key;
  }
  // A batch goes in the order of the last reads: the key read last is touched last.
  EXPECT_LT(lastTouch("a"), lastTouch("b"));
  EXPECT_LT(lastTouch("c"), lastTouch("b"));
}

// Holds each write back until the test lets it go, so a removal can start
// while the write is still pending.
class HeldWritingDelegate : public KeyValueDiskCacheDelegate {
 public:
  bool createDiskCache(const std::filesystem::path& path, const std::string& value) override {
    released_.wait();
    return KeyValueDiskCacheDelegate::createDiskCache(path, value);
  }
  void release() { release_.set_value(); }

 private:
  std::promise<void> release_;
  std::shared_future<void> released_ = release_.get_future().share();
};

TEST_F(KeyValueCacheTest, ARemovedRecordStaysRemovedWhenItsWriteWasPending) {
  KeyValueCache cache("TestCache");
  auto delegate = std::make_shared<HeldWritingDelegate>();
  cache.setDiskCacheDelegate(delegate);
  cache.setObject("stale", "key");
  // The write ends just as the removal starts: only a removal that waits
  // for it finds a file to remove.
  delegate->release();
  cache.removeObjectForKey("key");
  cache.waitForDiskFlush();
  cache.clearMemCache();
  EXPECT_FALSE(cache.objectForKey("key", 60));
}

TEST_F(KeyValueCacheTest, ARecordTooBigForMemoryReplacesTheOneReadIntoMemoryBefore) {
  KeyValueCache cache("TestCache");
  cache.setMaxMemCacheBytesPerRecord(16);
  const std::string key = "a-key-longer-than-the-limit";
  cache.setObject("old", key);
  EXPECT_EQ(cache.objectForKey(key, 60), std::optional<std::string>("old"));
  cache.setObject("new", key);
  EXPECT_EQ(cache.objectForKey(key, 60), std::optional<std::string>("new"));
}

TEST_F(KeyValueCacheTest, ACacheMayGoAsSoonAsItsWritesAreFlushed) {
  // The destructor waits for the disk; the last write must be done with the
  // cache by the time that wait ends (sanitizer builds catch a late touch).
  for (int round = 0; round < 50; ++round) {
    KeyValueCache cache("TestCache");
    cache.setObject("v", "k" + std::to_string(round));
    cache.objectForKey("k" + std::to_string(round), 60);
  }
  SUCCEED();
}

TEST(MemoryMappedFile, MapsExactlyTheBytesOrNothing) {
  EXPECT_FALSE(MemoryMappedFile::map("/nonexistent/file"));
  test_support::ScratchDirectory scratch;
  auto mapped = MemoryMappedFile::map(scratch.file("mapped", std::string("ab\0cd", 5)));
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped->data(), std::string_view("ab\0cd", 5));
}

}  // namespace
}  // namespace backend::net
