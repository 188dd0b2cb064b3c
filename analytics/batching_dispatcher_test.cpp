#include "batching_dispatcher.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "analytics/fields.hpp"
#include "hit_util.hpp"
#include "platform/event_loop_thread.hpp"
#include "platform/log.hpp"
#include "platform/reachability.hpp"
#include "platform/run_loop.hpp"
#include "reachability_checker.hpp"
#include "support/analytics/test_collector.hpp"
#include "support/eventually.hpp"
#include "support/scratch_directory.hpp"
#include "support/scoped_locale.hpp"

namespace analytics {
namespace {

using platform::Value;
using testing::RecordedRequest;

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::setReachabilitySource(&reachability); }
  void TearDown() override {
    dispatcher.reset();
    platform::setReachabilitySource(nullptr);
  }

  void start(DispatchSettings settings = {}, std::string httpsURL = "") {
    BatchingDispatcher::Options options;
    options.httpsURL = httpsURL.empty() ? collector.url() : httpsURL;
    options.httpURL = collector.url("/plain");
    options.settings = settings;
    options.thread = &thread;
    options.connections = connections;
    options.initialDispatch = false;
    options.observer.exchangeFinished = [this](const ExchangeOutcome& outcome) {
      std::lock_guard lock(mutex);
      statuses.push_back(outcome.status);
    };
    DataStore::Options storeOptions;
    storeOptions.directory = dir.path();
    storeOptions.thread = &thread;
    dispatcher = std::make_shared<BatchingDispatcher>(std::make_unique<DataStore>(storeOptions), options);
  }

  static ParameterMap appview(const std::string& screen) {
    return {{"&t", Value("appview")}, {"&cd", Value(screen)}, {"&cid", Value("c1")}};
  }

  // Stores hits through the dispatcher and waits until they are on disk.
  void queue(const std::vector<ParameterMap>& hits) {
    for (const auto& hit : hits) dispatcher->queueDispatch(hit);
    thread.perform([] {}, platform::EventLoopThread::Wait::Yes);
  }

  std::size_t finishedCount() {
    std::lock_guard lock(mutex);
    return statuses.size();
  }
  // Runs the main loop (where exchanges complete) until `count` exchanges finished.
  bool waitForExchanges(std::size_t count) {
    return platform::RunLoop::main().runUntil([&] { return finishedCount() >= count; }, std::chrono::seconds(20));
  }
  long lastStatus() {
    std::lock_guard lock(mutex);
    return statuses.back();
  }
  // Answers whether the analytics thread got round to an empty task within
  // `limit` (it does not when something loops on it).
  bool threadAnswers(std::chrono::seconds limit = std::chrono::seconds(20)) {
    auto answered = std::make_shared<std::promise<void>>();
    auto done = answered->get_future();
    thread.post([answered] { answered->set_value(); });
    return done.wait_for(limit) == std::future_status::ready;
  }
  // How many captured lines hold `text`.
  static std::size_t count(const platform::LogCapture& log, const std::string& text) {
    auto lines = log.lines();
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

  test_support::ScratchDirectory dir;
  testing::TestCollector collector;
  platform::ManualReachabilitySource reachability;
  platform::EventLoopThread thread{"ANThread-test"};
  std::shared_ptr<ConnectionFactory> connections = std::make_shared<URLConnectionFactory>(RequestRouter{}, &thread);
  std::shared_ptr<BatchingDispatcher> dispatcher;
  std::mutex mutex;
  std::vector<long> statuses;
};

TEST(RequestBuilder, WireLineOfAnAppviewHit) {
  HitRecord hit{platform::Date(1700000000.25),
                {{"&t", Value("appview")},
                 {"&z", Value("123456789")},
                 {"&cd", Value("Frontpage")},
                 {"&tid", Value("AN-318264-9")},
                 {"&cid", Value("5e2d5a6c-1f7e")},
                 {"&ul", Value("nb-no")},
                 {"&sc", Value::null()},
                 {"&_u", Value("")},
                 {"&an", Value("Vestavind nyheter")},
                 {"useSecure", Value("1")},
                 {"anVersion", Value("2.01b")}},
                std::nullopt};
  RequestBuilder builder("ua");
  EXPECT_EQ(builder.parametersForHit(hit, platform::Date(1700000001.75)),
            "t=appview&cd=Frontpage&tid=AN-318264-9&cid=5e2d5a6c-1f7e&ul=nb-no&_u&an=Vestavind+nyheter"
            "&ht=1700000000250&qt=1500&z=123456789");
  // No queue time when sent the moment it was made.
  EXPECT_EQ(builder.parametersForHit(hit, platform::Date(1700000000.25)).find("qt="), std::string::npos);
  auto post = builder.requestPost("http://h/collect", "a=1\nb=2", Compression::Deflate);
  ASSERT_TRUE(post);
  EXPECT_EQ(post->header("content-encoding"), "deflate");
  EXPECT_EQ(post->header("Content-Length"), std::to_string(post->body.size()));
  EXPECT_EQ(post->header("Content-Type"), "application/x-www-form-urlencoded; charset=UTF-8");
  EXPECT_EQ(CompressionUtil::inflate(post->body, false), "a=1\nb=2");
}

TEST_F(DispatcherTest, ThreeStoredHitsGoAsThreeGetsBackToBackAfterOneInterval) {
  start();
  queue({appview("1"), appview("2"), appview("3")});
  dispatcher->setDispatchInterval(5);
  ASSERT_TRUE(waitForExchanges(3));
  auto requests = collector.requests();
  ASSERT_EQ(requests.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(requests[i].method, "GET");
    EXPECT_EQ(requests[i].target.rfind("/collect?t=appview&cd=" + std::to_string(i + 1) + "&cid=c1&ht=", 0), 0u)
        << requests[i].target;
    EXPECT_EQ(requests[i].userAgent.rfind("Analytics/2.01b (", 0), 0u);
  }
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 0);
}

TEST_F(DispatcherTest, AnyHttpAnswerDeletesButAFailedConnectionKeepsTheHits) {
  collector.setStatus(500);
  start();
  queue({appview("A")});
  dispatcher->dispatch();
  ASSERT_TRUE(waitForExchanges(1));
  EXPECT_EQ(lastStatus(), 500);
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 0);

  // A port nobody listens on: the connection is refused.
  std::string refused;
  {
    testing::TestCollector gone;
    refused = gone.url();
  }
  dispatcher.reset();
  start({}, refused);
  queue({appview("B")});
  dispatcher->dispatch();
  ASSERT_TRUE(waitForExchanges(2));
  EXPECT_EQ(lastStatus(), -1);
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 1);
}

TEST_F(DispatcherTest, HitsOlderThanThirtyDaysAreNeverSent) {
  start();
  auto now = platform::Date::now();
  dispatcher->dataStore().addHit({now.addingTimeInterval(-2592000 - 5), appview("stale"), std::nullopt});
  dispatcher->dataStore().addHit({now.addingTimeInterval(-1), appview("fresh"), std::nullopt});
  dispatcher->dataStore().save();
  dispatcher->dispatch();
  ASSERT_TRUE(waitForExchanges(1));
  auto requests = collector.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].target.find("cd=fresh"), std::string::npos);
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 0);
}

TEST_F(DispatcherTest, BatchesGoAsCompressedPosts) {
  for (auto compression : {Compression::Gzip, Compression::Deflate, Compression::None}) {
    DispatchSettings settings;
    settings.batchingStrategy = 1;
    settings.compression = compression;
    start(settings);
    queue({appview("1"), appview("2"), appview("3")});
    std::size_t before = finishedCount();
    dispatcher->dispatch();
    ASSERT_TRUE(waitForExchanges(before + 1));
    auto request = collector.requests().back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.contentEncoding,
              compression == Compression::Gzip ? "gzip" : compression == Compression::Deflate ? "deflate" : "");
    EXPECT_EQ(std::count(request.body.begin(), request.body.end(), '\n'), 2) << request.body;
    EXPECT_EQ(request.body.rfind("t=appview&cd=1&", 0), 0u) << request.body;
    EXPECT_EQ(dispatcher->dataStore().hitCount(), 0);
    dispatcher.reset();
  }
}

TEST_F(DispatcherTest, OversizedHitIsSentAsAnEmptyQueryAndDeleted) {
  start();
  auto big = appview("big");
  big.set("&el", Value(std::string(9000, 'x')));
  queue({big});
  dispatcher->dispatch();
  ASSERT_TRUE(waitForExchanges(1));
  EXPECT_EQ(collector.requests().at(0).target, "/collect?");
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 0);
}

TEST_F(DispatcherTest, SamplingIsStablePerClientIdAndNeedsANumber) {
  start();
  std::string inside, outside;
  for (int i = 0; inside.empty() || outside.empty(); ++i) {
    std::string cid = "client-" + std::to_string(i);
    (HitUtil::gaHash(cid) % 10000 < 5000 ? inside : outside) = cid;
  }
  auto sampled = [](const std::string& cid, const char* rate) {
    return ParameterMap{{"&t", Value("appview")}, {"&cid", Value(cid)}, {"&sf", Value(rate)}};
  };
  queue({sampled(outside, "50"), sampled(inside, "50")});
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 1);
  queue({sampled(outside, "50%")});  // not a number: no sampling
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 2);
}

TEST_F(DispatcherTest, DryRunAnswers200WithoutTraffic) {
  connections->setDryRun(true);
  start();
  queue({appview("A")});
  dispatcher->dispatch();
  ASSERT_TRUE(waitForExchanges(1));
  EXPECT_EQ(lastStatus(), 200);
  EXPECT_TRUE(collector.requests().empty());
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 0);
}

TEST_F(DispatcherTest, ConvertedHitsGoToThePlainEndpointAndBatchesDoNotMix) {
  DispatchSettings settings;
  settings.batchingStrategy = 1;
  start(settings);
  auto plain = appview("plain");
  plain.set("useSecure", Value("0"));
  queue({plain, appview("secure")});
  dispatcher->dispatch();
  ASSERT_TRUE(waitForExchanges(2));
  auto requests = collector.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target.rfind("/plain?t=appview&cd=plain", 0), 0u) << requests[0].target;
  EXPECT_EQ(requests[1].target.rfind("/collect?t=appview&cd=secure", 0), 0u) << requests[1].target;
}

// Holds the write lock of a store file, as another process would; a store
// asking for it gives up after its busy timeout.
class WriteLock {
 public:
  explicit WriteLock(const std::filesystem::path& file) {
    sqlite3_open(file.c_str(), &db_);
    locked_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~WriteLock() { release(); }
  bool locked() const { return locked_; }
  void release() {
    if (!db_) return;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
    db_ = nullptr;
  }

 private:
  sqlite3* db_ = nullptr;
  bool locked_ = false;
};

TEST_F(DispatcherTest, StaleHitsThatCannotBeDeletedLeaveTheThreadFreeUntilTheNextTick) {
  start();
  auto monthAgo = platform::Date::now().addingTimeInterval(-2592000 - 5);
  dispatcher->dataStore().addHit({monthAgo, appview("stale"), std::nullopt});
  dispatcher->dataStore().save();
  WriteLock lock(dir.path() / kHitStoreFileName);
  ASSERT_TRUE(lock.locked());
  platform::LogCapture log;
  dispatcher->dispatch();
  ASSERT_TRUE(threadAnswers());
  dispatcher->dispatch();
  ASSERT_TRUE(threadAnswers());
  EXPECT_EQ(count(log, "Failed to delete hit(s)"), 1u);
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 1);
  lock.release();
  dispatcher->dispatch();
  ASSERT_TRUE(threadAnswers());
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 0);
  EXPECT_TRUE(collector.requests().empty());
}

TEST_F(DispatcherTest, AnUnbuildableBatchThatCannotBeDeletedIsNotTriedAgainAtOnce) {
  DispatchSettings settings;
  settings.batchingStrategy = 1;
  settings.maxBodySize = 10;  // every POST is too large to build
  start(settings);
  queue({appview("A"), appview("B")});
  WriteLock lock(dir.path() / kHitStoreFileName);
  ASSERT_TRUE(lock.locked());
  platform::LogCapture log;
  dispatcher->dispatch();
  ASSERT_TRUE(threadAnswers());
  ASSERT_TRUE(threadAnswers());
  EXPECT_EQ(count(log, "Failed to generate request for hit(s)."), 1u);
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 2);
}

TEST_F(DispatcherTest, OptingOutDeletesWhatItCanAndNothingLeavesWhileOptedOut) {
  start();
  queue({appview("A")});
  {
    // A locked property file does not keep the hit file from being emptied.
    WriteLock lock(dir.path() / kPropertyStoreFileName);
    ASSERT_TRUE(lock.locked());
    dispatcher->setOptOut(true);
    ASSERT_TRUE(threadAnswers());
    EXPECT_EQ(dispatcher->dataStore().hitCount(), 0);
  }
  queue({appview("dropped while opted out")});
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 0);
  dispatcher->setOptOut(false);
  queue({appview("B")});
  {
    WriteLock lock(dir.path() / kHitStoreFileName);
    ASSERT_TRUE(lock.locked());
    dispatcher->setOptOut(true);
    ASSERT_TRUE(threadAnswers());
    EXPECT_EQ(dispatcher->dataStore().hitCount(), 1);
  }
  // The hit the locked file kept is not sent; the next try deletes it.
  dispatcher->dispatch();
  ASSERT_TRUE(threadAnswers());
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 0);
  EXPECT_TRUE(collector.requests().empty());
}

TEST_F(DispatcherTest, ExchangesCompleteOnTheMainQueueInstalledWhenTheyFinish) {
  // A window's queue: installed when the dispatcher was made, gone before
  // its exchange finished.
  platform::RunLoop windowQueue;
  platform::setMainQueue(&windowQueue);
  start();
  platform::setMainQueue(nullptr);
  queue({appview("A")});
  dispatcher->dispatch();
  EXPECT_TRUE(waitForExchanges(1));
  // Reachability reports follow the installed queue too.
  reachability.setDefaultFlags(platform::ReachabilityFlags());
  EXPECT_EQ(windowQueue.drain(), 0u);
}

TEST_F(DispatcherTest, SampleRateReadsTheSameUnderACommaDecimalLocale) {
  start();
  std::string inside, outside;
  for (int i = 0; inside.empty() || outside.empty(); ++i) {
    std::string cid = "client-" + std::to_string(i);
    (HitUtil::gaHash(cid) % 10000 < 1250 ? inside : outside) = cid;
  }
  test_support::ScopedLocale norwegian("nb_NO.UTF-8");
  ASSERT_TRUE(norwegian.active()) << "the nb_NO.UTF-8 locale is missing (scripts/install-deps.sh makes it)";
  auto sampled = [](const std::string& cid) {
    return ParameterMap{{"&t", Value("appview")}, {"&cid", Value(cid)}, {"&sf", Value("12.5")}};
  };
  queue({sampled(inside), sampled(outside)});
  EXPECT_EQ(dispatcher->dataStore().hitCount(), 1);
}

TEST(BatchingStrategies, TimeGapAndSessionSplit) {
  auto at = [](double t, const char* sc = nullptr) {
    HitRecord hit{platform::Date(t), {}, std::nullopt};
    if (sc) hit.parameters.set("&sc", Value(sc));
    return hit;
  };
  std::vector<HitRecord> hits{at(0), at(1), at(10), at(11), at(30), at(31)};
  EXPECT_EQ(BatchingDispatcher::batchByTimeGap(hits, 6), 4u);  // before the 19 s pause
  EXPECT_EQ(BatchingDispatcher::batchByTimeGap(hits, 3), 2u);
  EXPECT_EQ(BatchingDispatcher::batchByTimeGap(hits, 1), 1u);
  std::vector<HitRecord> sessions{at(0), at(1, "end"), at(2, "start"), at(3)};
  EXPECT_EQ(BatchingDispatcher::batchBySessionSplit(sessions, 4), 2u);
  EXPECT_EQ(BatchingDispatcher::batchBySessionSplit(sessions, 2), 2u);
  EXPECT_EQ(BatchingDispatcher::batchBySessionSplit({at(0), at(1)}, 2), 2u);
}

TEST(ReachabilityChecker, StopEndsReportsBeforeTheStatusGoesBackToUnknown) {
  class Counting final : public ReachabilityDelegate {
   public:
    void reachabilityStatusChanged(ReachabilityChecker&, ReachabilityStatus) override { ++changes; }
    std::atomic<int> changes{0};
  } delegate;
  platform::ManualReachabilitySource source;
  ReachabilityChecker checker(&delegate, "ssl.analytics.test");
  checker.setReachabilitySource(&source);
  // The main queue runs on a thread of its own while another flips the flags,
  // so reports are still arriving each time the checker stops.
  std::atomic<bool> finished{false};
  std::thread mainLoop([&] {
    while (!finished) platform::RunLoop::main().runFor(std::chrono::milliseconds(1));
  });
  std::thread flipper([&] {
    for (int i = 0; !finished; ++i) {
      source.setDefaultFlags(i % 2 ? platform::ReachabilityFlags() : platform::ReachabilityFlag::Reachable);
    }
  });
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(checker.start());
    const int before = delegate.changes;
    ASSERT_TRUE(test_support::eventually([&] { return delegate.changes > before + 5; }));
    checker.stop();
    EXPECT_EQ(checker.status(), ReachabilityStatus::Unknown);
  }
  finished = true;
  flipper.join();
  mainLoop.join();
}

TEST(ReachabilityChecker, StatusForFlags) {
  using F = platform::ReachabilityFlag;
  EXPECT_EQ(ReachabilityChecker::statusForFlags(platform::ReachabilityFlags()), ReachabilityStatus::NotReachable);
  EXPECT_EQ(ReachabilityChecker::statusForFlags(F::Reachable), ReachabilityStatus::ReachableViaWiFi);
  EXPECT_EQ(ReachabilityChecker::statusForFlags(F::Reachable | F::IsWWAN), ReachabilityStatus::ReachableViaCellular);
  EXPECT_EQ(ReachabilityChecker::statusForFlags(F::Reachable | F::ConnectionRequired), ReachabilityStatus::NotReachable);
  EXPECT_EQ(ReachabilityChecker::statusForFlags(F::Reachable | F::ConnectionRequired | F::ConnectionOnDemand),
            ReachabilityStatus::ReachableViaWiFi);
  EXPECT_EQ(ReachabilityChecker::statusForFlags(F::Reachable | F::ConnectionRequired | F::ConnectionOnTraffic |
                                                F::InterventionRequired),
            ReachabilityStatus::NotReachable);
  EXPECT_EQ(ReachabilityChecker::create(nullptr, ""), nullptr);
}

}  // namespace
}  // namespace analytics
