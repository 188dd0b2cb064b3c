#include "backend/net/key_value_cache.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>
#include <fstream>

#include "platform/notification_center.hpp"
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

TEST_F(KeyValueCacheTest, CompactionKeepsTheMostRecentlyAccessedRecords) {
  KeyValueCache cache("TestCache");
  cache.enableMemCache(false);  // writes on this thread, in order
  for (int i = 0; i < 1000; ++i) cache.setObject("v", "key" + std::to_string(i));
  EXPECT_EQ(cache.diskCacheRecordCount(), 1000u);
  // Accessed a second apart in the past, oldest first (writes in one clock
  // tick share a time); then reading key0 makes key1 the least recently used.
  const auto past = std::chrono::system_clock::now() - std::chrono::hours(2);
  for (int i = 0; i < 1000; ++i) {
    setAccessTime(cache.cacheFileForKey("key" + std::to_string(i)), past + std::chrono::seconds(i));
  }
  KeyValueDiskCacheDelegate().touchDiskCache(cache.cacheFileForKey("key0"));
  cache.setObject("v", "key1000");
  EXPECT_EQ(cache.diskCacheRecordCount(), 1000u);
  EXPECT_TRUE(std::filesystem::exists(cache.cacheFileForKey("key0")));
  EXPECT_FALSE(std::filesystem::exists(cache.cacheFileForKey("key1")));

  cache.setMaxDiskCacheBytes(10);
  cache.setObject("0123456789", "big");
  EXPECT_EQ(cache.diskCacheRecordCount(), 1u);
  EXPECT_TRUE(std::filesystem::exists(cache.cacheFileForKey("big")));
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

TEST_F(KeyValueCacheTest, MemoryReadsTouchTheirRecordsInTheOrderOfTheLastRead) {
  KeyValueCache cache("TestCache");
  auto delegate = std::make_shared<RecordingDelegate>();
  cache.setDiskCacheDelegate(delegate);
  for (const char* key : {"a", "b", "c"}) cache.setObject(key, key);
  cache.waitForDiskFlush();
  for (const char* key : {"a", "b", "a", "c", "b"}) ASSERT_TRUE(cache.objectForKey(key, 60));
  cache.waitForDiskFlush();
  std::lock_guard lock(delegate->mutex);
  auto lastTouch = [&](const std::string& key) {
    auto it = std::find(delegate->touched.rbegin(), delegate->touched.rend(), key);
    return it == delegate->touched.rend() ? -1 : static_cast<int>(delegate->touched.rend() - it);
  };
  // However the touches were batched: the last read key is touched last.
  EXPECT_LT(lastTouch("a"), lastTouch("c"));
  EXPECT_LT(lastTouch("c"), lastTouch("b"));
  EXPECT_GT(lastTouch("a"), 0);
}

// Writes each record late, so a removal can come while it is pending.
class SlowWritingDelegate : public KeyValueDiskCacheDelegate {
 public:
  void createDiskCache(const std::filesystem::path& path, const std::string& value) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    KeyValueDiskCacheDelegate::createDiskCache(path, value);
  }
};

TEST_F(KeyValueCacheTest, ARemovedRecordStaysRemovedWhenItsWriteWasPending) {
  KeyValueCache cache("TestCache");
  cache.setDiskCacheDelegate(std::make_shared<SlowWritingDelegate>());
  cache.setObject("stale", "key");
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
