#include "backend/net/command_cache.hpp"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <thread>

#include "backend/net/disk_local_id_manager.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"
#include "support/backend/command_cache_fixture.hpp"
#include "support/eventually.hpp"

namespace backend::net {
namespace {

using testing::QueueTest;
using platform::Value;

// A "create" whose JSON form is exactly `size` bytes.
CommandPtr commandOfSize(std::size_t size, int n) {
  auto make = [n](std::size_t pad) {
    return QueueTest::create("QueueNote", Value::dictionary({{"n", n}, {"pad", std::string(pad, 'x')}}));
  };
  return make(size - make(0)->json().size());
}

std::vector<long long> createdNumbers(const std::vector<QueueTest::SeenRequest>& seen, long long status) {
  std::vector<long long> numbers;
  for (const auto& request : seen) {
    if (request.status == status) numbers.push_back(request.body["data"]["n"].longLongValue());
  }
  return numbers;
}

using CommandCacheTest = QueueTest;

TEST_F(CommandCacheTest, DrainsInStoredOrderOnceTheServerAnswersAgain) {
  platform::LogCapture log;
  addFault(2, 503);
  auto& queue = makeQueue();
  auto first = queue.runEventuallyAsync(note(1), nullptr);
  auto second = queue.runEventuallyAsync(note(2), nullptr);
  auto third = queue.runEventuallyAsync(note(3), nullptr);
  for (auto* task : {&first, &second, &third}) EXPECT_FALSE(finished(*task).error());
  EXPECT_TRUE(first.result().result["data"]["objectId"].isString());

  auto seen = backendRequests();
  EXPECT_EQ(createdNumbers(seen, 503), (std::vector<long long>{1, 1}));
  EXPECT_EQ(createdNumbers(seen, 200), (std::vector<long long>{1, 2, 3}));
  EXPECT_EQ(queue.pendingCount(), 0u);
  EXPECT_TRUE(log.contains("Attempt at runEventually command timed out. Waiting 0.010000 seconds. 5 retries remaining."));
  EXPECT_TRUE(log.contains("Attempt at runEventually command timed out. Waiting 0.010000 seconds. 4 retries remaining."));
  EXPECT_TRUE(log.contains("Done waiting for network timeout."));
}

TEST_F(CommandCacheTest, CommandsStoredAfterARestartGoAfterTheOnesStoredBefore) {
  // Stored under a previous boot, whose clock had run further than this one's.
  std::filesystem::create_directories(queueDirectory());
  ASSERT_FALSE(platform::writeFileAtomically(queueDirectory() / "CommandCache_00ffffffffffff00_00000000_AbCdEf",
                                             note(1)->json()));
  setOnline(false);
  auto& queue = makeQueue();
  auto later = queue.runEventuallyAsync(note(2), nullptr);
  queue.waitForStores();
  setOnline(true);
  EXPECT_FALSE(finished(later).error());
  ASSERT_TRUE(test_support::eventually([&] { return queue.pendingCount() == 0; }));
  EXPECT_EQ(createdNumbers(backendRequests(), 200), (std::vector<long long>{1, 2}));
}

TEST_F(CommandCacheTest, AWriteCutShortReleasesTheLocalIdsItCounted) {
  std::vector<std::string> released;
  std::mutex mutex;
  installLocalIdDiskReferenceHooks({nullptr, [&](const std::string& id) {
                                      std::lock_guard lock(mutex);
                                      released.push_back(id);
                                    }});
  auto command = note(4);
  command->setLocalId("local_cut_short");
  // What a crash between the temporary write and its rename leaves.
  std::filesystem::create_directories(queueDirectory());
  ASSERT_FALSE(platform::writeFileAtomically(queueDirectory() / "CommandCache_0000000000000001_00000000_AbCdEf", ""));
  ASSERT_FALSE(platform::writeFileAtomically(
      queueDirectory() / ".CommandCache_0000000000000001_00000000_AbCdEf.tmp-0123456789abcdef", command->json()));
  auto& queue = makeQueue();
  ASSERT_TRUE(test_support::eventually([&] { return std::filesystem::is_empty(queueDirectory()); }));
  queue.waitForStores();
  std::lock_guard lock(mutex);
  EXPECT_EQ(released, std::vector<std::string>{"local_cut_short"});
  EXPECT_TRUE(backendRequests().empty());
}

TEST_F(CommandCacheTest, NothingIsSentWhileNotConnectedAndConnectingDrainsAtOnce) {
  setOnline(false);
  auto& queue = makeQueue();
  auto task = queue.runEventuallyAsync(note(7), nullptr);
  queue.waitForStores();
  EXPECT_FALSE(queue.isConnected());
  EXPECT_EQ(queue.pendingCount(), 1u);
  EXPECT_TRUE(backendRequests().empty());
  EXPECT_FALSE(task.isCompleted());

  setOnline(true);
  EXPECT_FALSE(finished(task).error());
  EXPECT_EQ(createdNumbers(backendRequests(), 200), std::vector<long long>{7});
}

TEST_F(CommandCacheTest, FinalFailuresAreRemovedAndReported) {
  platform::LogCapture log;
  setOnline(false);
  auto& queue = makeQueue();
  auto missing = queue.runEventuallyAsync(
      Command::commandWithServerOperation(
          "update", Value::dictionary({{"classname", "QueueNote"}, {"data", Value::dictionary({{"objectId", "nope"}})}}),
          std::nullopt),
      nullptr);
  // A creation the server refuses, then the delete of that never-created object.
  auto object = Object::objectWithClassName("QueueNote");
  auto refused = queue.runEventuallyAsync(create("_User", Value::dictionary({{"name", "x"}})), object);
  auto deletion = queue.runEventuallyAsync(
      Command::commandWithServerOperation("delete", Value::dictionary({{"classname", "_User"}}), std::nullopt), object);
  queue.waitForStores();
  auto local = *object->localId();
  auto manager = DiskLocalIdManager::defaultInstance();
  EXPECT_TRUE(std::filesystem::exists(manager->diskPath() / local));
  setOnline(true);

  ASSERT_TRUE(finished(missing).error());
  EXPECT_EQ(missing.error()->code, 101);
  ASSERT_TRUE(finished(refused).error());
  EXPECT_NE(refused.error()->code, 100);
  ASSERT_TRUE(finished(deletion).error());
  EXPECT_EQ(deletion.error()->code, 106);
  EXPECT_EQ(deletion.error()->userInfo["message"], Value("saveEventually command failed."));
  EXPECT_EQ(deletion.error()->userInfo["exception"], Value("Attempt to delete non-existent object."));

  EXPECT_EQ(queue.pendingCount(), 0u);
  EXPECT_FALSE(std::filesystem::exists(manager->diskPath() / local));
  auto seen = backendRequests();
  ASSERT_EQ(seen.size(), 2u);  // the delete never went out
  EXPECT_EQ(seen[0].operation, "update");
  EXPECT_EQ(seen[1].operation, "create");
  EXPECT_TRUE(log.contains("runEventually command failed. Error:"));
}

TEST_F(CommandCacheTest, UpdateOfANewObjectIsSentAsUpdateOnceItsCreateHasAnId) {
  setOnline(false);
  auto& queue = makeQueue();
  auto object = Object::objectWithClassName("QueueNote");
  auto created = queue.runEventuallyAsync(create("QueueNote", Value::dictionary({{"title", "first"}})), object);
  auto updated = queue.runEventuallyAsync(
      Command::commandWithServerOperation(
          "update", Value::dictionary({{"classname", "QueueNote"}, {"data", Value::dictionary({{"title", "second"}})}}),
          std::nullopt),
      object);
  queue.waitForStores();
  auto local = *object->localId();
  auto entryPath = DiskLocalIdManager::defaultInstance()->diskPath() / local;
  auto entryText = platform::readFile(entryPath);
  ASSERT_TRUE(entryText);
  auto entry = platform::json::parse(*entryText).value();
  EXPECT_EQ(entry["referenceCount"].longLongValue(), 2);

  setOnline(true);
  ASSERT_FALSE(finished(created).error());
  ASSERT_FALSE(finished(updated).error());
  auto objectId = created.result().result["data"]["objectId"].asString();

  auto seen = backendRequests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].operation, "create");
  EXPECT_EQ(seen[1].operation, "update");
  EXPECT_EQ(seen[1].body["data"]["objectId"], Value(objectId));
  auto stored = objects("QueueNote");
  ASSERT_EQ(stored.array()->size(), 1u);
  EXPECT_EQ(stored[std::size_t{0}]["title"], Value("second"));

  EXPECT_FALSE(std::filesystem::exists(entryPath));
  EXPECT_EQ(localIdManager()->objectIdForLocalId(local), objectId);
}

TEST_F(CommandCacheTest, ConnectionFailuresKeepTheCommandThroughEveryRetry) {
  addFault(1000, 503);
  auto& queue = makeQueue();
  queue.setTimeoutMaxRetries(1);
  auto task = queue.runEventuallyAsync(note(1), nullptr);
  ASSERT_TRUE(test_support::eventually([&] { return backendRequests().size() == 2; }));  // the first try and one retry
  EXPECT_EQ(queue.pendingCount(), 1u);
  EXPECT_FALSE(task.isCompleted());

  // The next store wakes the runner for a new round.
  clearFaults();
  auto next = queue.runEventuallyAsync(note(2), nullptr);
  EXPECT_FALSE(finished(task).error());
  EXPECT_FALSE(finished(next).error());
  auto seen = backendRequests();
  EXPECT_EQ(createdNumbers(seen, 503), (std::vector<long long>{1, 1}));
  EXPECT_EQ(createdNumbers(seen, 200), (std::vector<long long>{1, 2}));
}

TEST_F(CommandCacheTest, LosingTheConnectionEndsTheDefaultTenMinuteWaitAtOnce) {
  platform::LogCapture log;
  addFault(1, 503);
  auto& queue = makeQueue(CommandCache::kDefaultTimeoutRetryWaitSeconds);
  auto task = queue.runEventuallyAsync(note(1), nullptr);
  ASSERT_TRUE(test_support::eventually([&] { return log.contains("Waiting 600.000000 seconds. 5 retries remaining."); }));
  setOnline(false);
  ASSERT_TRUE(test_support::eventually([&] { return log.contains("Aborting wait because runEventually background thread should stop."); }));
  EXPECT_EQ(queue.pendingCount(), 1u);
  EXPECT_FALSE(task.isCompleted());
  EXPECT_FALSE(log.contains("Done waiting for network timeout."));

  // Back online: sent again without waiting out the ten minutes.
  setOnline(true);
  EXPECT_FALSE(finished(task).error());
}

TEST_F(CommandCacheTest, SizeLimitDropsTheOldestAndRefusesWhatCannotFit) {
  platform::LogCapture log;
  setOnline(false);
  auto& queue = makeQueue();
  queue.setMaxCacheSizeBytes(1000);
  auto oldest = queue.runEventuallyAsync(commandOfSize(300, 1), nullptr);
  auto older = queue.runEventuallyAsync(commandOfSize(300, 2), nullptr);
  auto newest = queue.runEventuallyAsync(commandOfSize(600, 3), nullptr);
  auto tooBig = queue.runEventuallyAsync(commandOfSize(1001, 4), nullptr);
  queue.waitForStores();

  ASSERT_TRUE(finished(oldest).error());
  EXPECT_EQ(oldest.error()->code, kErrorCommandNotKept);
  EXPECT_EQ(oldest.error()->message(), "Command deleted to make room in command cache.");
  ASSERT_TRUE(finished(tooBig).error());
  EXPECT_EQ(tooBig.error()->message(), "Unable to save command for later because it's too big.");
  EXPECT_FALSE(older.isCompleted());
  EXPECT_FALSE(newest.isCompleted());
  EXPECT_EQ(queue.pendingCount(), 2u);
  EXPECT_TRUE(log.contains("Deleting old commands to make room in command cache."));

  setOnline(true);
  EXPECT_FALSE(finished(older).error());
  EXPECT_FALSE(finished(newest).error());
  EXPECT_EQ(createdNumbers(backendRequests(), 200), (std::vector<long long>{2, 3}));
}

TEST_F(CommandCacheTest, AtTheCapTheOldestGoFirstAcrossARestartAndADrain) {
  setOnline(false);
  {
    auto& writer = makeQueue();
    writer.runEventuallyAsync(commandOfSize(300, 1), nullptr);
    writer.runEventuallyAsync(commandOfSize(300, 2), nullptr);
    writer.waitForStores();
    dropQueues();
  }
  auto& queue = makeQueue();
  queue.setMaxCacheSizeBytes(1000);
  queue.runEventuallyAsync(commandOfSize(300, 3), nullptr);
  // Full: the earlier run's oldest command makes room, not this run's.
  auto fourth = queue.runEventuallyAsync(commandOfSize(300, 4), nullptr);
  queue.waitForStores();
  EXPECT_EQ(queue.pendingCount(), 3u);
  setOnline(true);
  EXPECT_FALSE(finished(fourth).error());
  ASSERT_TRUE(test_support::eventually([&] { return queue.pendingCount() == 0; }));
  EXPECT_EQ(createdNumbers(backendRequests(), 200), (std::vector<long long>{2, 3, 4}));

  // The line kept since the first listing holds what this run stored after it.
  setOnline(false);
  auto fifth = queue.runEventuallyAsync(commandOfSize(600, 5), nullptr);
  auto sixth = queue.runEventuallyAsync(commandOfSize(400, 6), nullptr);
  auto seventh = queue.runEventuallyAsync(commandOfSize(600, 7), nullptr);
  queue.waitForStores();
  ASSERT_TRUE(finished(fifth).error());
  EXPECT_EQ(fifth.error()->message(), "Command deleted to make room in command cache.");
  EXPECT_EQ(queue.pendingCount(), 2u);
  setOnline(true);
  EXPECT_FALSE(finished(sixth).error());
  EXPECT_FALSE(finished(seventh).error());
  EXPECT_EQ(createdNumbers(backendRequests(), 200), (std::vector<long long>{2, 3, 4, 6, 7}));
}

TEST_F(CommandCacheTest, CommandsDroppedForRoomReleaseEveryLocalIdTheyCounted) {
  std::mutex mutex;
  std::map<std::string, int> references;
  installLocalIdDiskReferenceHooks({[&](const std::string& id) {
                                      std::lock_guard lock(mutex);
                                      ++references[id];
                                    },
                                    [&](const std::string& id) {
                                      std::lock_guard lock(mutex);
                                      --references[id];
                                    }});
  setOnline(false);
  {
    auto& earlierRun = makeQueue();
    auto own = note(1);
    own->setLocalId("local_00000000000000e1");
    earlierRun.runEventuallyAsync(own, nullptr);
    earlierRun.waitForStores();
    dropQueues();
  }
  auto& queue = makeQueue();
  queue.setMaxCacheSizeBytes(2000);
  auto child = Object::objectWithClassName("QueueNote");
  queue.runEventuallyAsync(create("QueueNote", Value::dictionary({{"n", 2}, {"child", Value(child)}})), nullptr);
  queue.runEventuallyAsync(note(3), nullptr);
  auto last = queue.runEventuallyAsync(commandOfSize(1990, 4), nullptr);
  queue.waitForStores();

  EXPECT_FALSE(last.isCompleted());
  EXPECT_EQ(queue.pendingCount(), 1u);
  std::lock_guard lock(mutex);
  ASSERT_EQ(references.size(), 2u);  // the earlier run's own id and the unsaved child's
  for (const auto& [id, count] : references) EXPECT_EQ(count, 0) << id;
}

TEST_F(CommandCacheTest, ClearEmptiesTheQueueAndEndsItsCallersTasks) {
  setOnline(false);
  auto& queue = makeQueue();
  auto first = queue.runEventuallyAsync(note(1), nullptr);
  auto second = queue.runEventuallyAsync(note(2), nullptr);
  queue.waitForStores();
  EXPECT_EQ(queue.pendingCount(), 2u);
  queue.clear();
  EXPECT_EQ(queue.pendingCount(), 0u);
  ASSERT_TRUE(finished(first).error());
  EXPECT_EQ(first.error()->message(), "The command cache was cleared.");
  EXPECT_TRUE(finished(second).error());
}

TEST_F(CommandCacheTest, CommandsOfAnEarlierRunAreSentByTheNextAndBadFilesAreDiscarded) {
  platform::LogCapture log;
  setOnline(false);
  {
    auto& writer = makeQueue();
    for (int n = 1; n <= 3; ++n) writer.runEventuallyAsync(note(n), nullptr);
    writer.waitForStores();
    dropQueues();
  }
  // Oldest by name, so they come first: an empty file, text that is no
  // command, a cut JSON text, and a temporary file of an interrupted write.
  auto dir = queueDirectory();
  ASSERT_FALSE(platform::writeFileAtomically(dir / "CommandCache_0000000000000000_00000000_aaaaaa", ""));
  ASSERT_FALSE(platform::writeFileAtomically(dir / "CommandCache_0000000000000000_00000001_bbbbbb", "[1]"));
  ASSERT_FALSE(platform::writeFileAtomically(dir / "CommandCache_0000000000000000_00000002_cccccc",
                                             "{\"operation\":\"create\",\"params\":{\"classname\":\"Q"));
  ASSERT_FALSE(platform::writeFileAtomically(dir / ".CommandCache_0000000000000000_00000003_dddddd.tmp-1", "{\"op"));
  auto& reader = makeQueue();
  EXPECT_EQ(reader.pendingCount(), 6u);
  setOnline(true);
  ASSERT_TRUE(test_support::eventually([&] { return reader.pendingCount() == 0; }));
  // The bad files and the temporary one are gone; nothing of them was sent.
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  EXPECT_EQ(createdNumbers(backendRequests(), 200), (std::vector<long long>{1, 2, 3}));
  EXPECT_EQ(backendRequests().size(), 3u);
  EXPECT_TRUE(log.contains("Found empty file in saveEventually cache."));
}

TEST_F(CommandCacheTest, ConfigurationStartsTheSharedQueueInThePrivateDirectory) {
  auto& shared = CommandCache::defaultInstance();
  EXPECT_EQ(shared.cachePath(), InternalUtils::privateDataDir() / "Command Cache");
  EXPECT_EQ(&CommandCache::defaultInstance(), &shared);
  // Only where the file system takes user attributes.
  if (platform::setExcludedFromBackup(root_)) {
    EXPECT_TRUE(platform::isExcludedFromBackup(shared.cachePath()));
  }
  // The loopback devserver counts as reachable.
  auto task = shared.runEventuallyAsync(note(5), nullptr);
  EXPECT_FALSE(finished(task).error());
}

}  // namespace
}  // namespace backend::net
