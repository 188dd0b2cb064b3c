#include "backend/net/key_value_cache.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "../core/test_support.hpp"
#include "platform/clock.hpp"
#include "platform/notification_center.hpp"

namespace backend::net {
namespace {

// A clock that tests move by hand.
class ManualClock : public platform::Clock {
 public:
  std::chrono::system_clock::time_point now() const override { return std::chrono::system_clock::now() + offset; }
  std::chrono::seconds offset{0};
};

class KeyValueCacheTest : public backend::testing::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    platform::setClock(&clock_);
  }
  void TearDown() override {
    platform::setClock(nullptr);
    BackendTest::TearDown();
  }
  ManualClock clock_;
};

TEST_F(KeyValueCacheTest, AgeIsMeasuredInWholeSecondsFromMemoryAndDisk) {
  KeyValueCache cache("TestCache");
  cache.setObject("value", "key");
  EXPECT_EQ(cache.objectForKey("key", 0), std::optional<std::string>("value"));
  clock_.offset = std::chrono::seconds(10);
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

TEST_F(KeyValueCacheTest, CompactionKeepsTheMostRecentlyAccessedRecords) {
  KeyValueCache cache("TestCache");
  cache.enableMemCache(false);  // writes on this thread, in order
  for (int i = 0; i < 1000; ++i) cache.setObject("v", "key" + std::to_string(i));
  EXPECT_EQ(cache.diskCacheRecordCount(), 1000u);
  // Reading key0 makes key1 the least recently used.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
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

TEST(MemoryMappedFile, MapsExactlyTheBytesOrNothing) {
  EXPECT_FALSE(MemoryMappedFile::map("/nonexistent/file"));
  auto path = std::filesystem::temp_directory_path() / ("mapped-" + std::to_string(::getpid()));
  std::ofstream(path, std::ios::binary) << std::string("ab\0cd", 5);
  auto mapped = MemoryMappedFile::map(path);
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped->data(), std::string_view("ab\0cd", 5));
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace backend::net
