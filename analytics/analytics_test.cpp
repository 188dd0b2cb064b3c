#include "analytics/analytics.hpp"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <sstream>

#include "batching_dispatcher.hpp"
#include "platform/event_loop_thread.hpp"
#include "platform/log.hpp"
#include "platform/reachability.hpp"
#include "platform/run_loop.hpp"
#include "support/analytics/test_collector.hpp"
#include "support/scratch_directory.hpp"
#include "usage_tracker.hpp"

extern char** environ;

namespace analytics {
namespace {

using platform::Value;

class AnalyticsTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::setReachabilitySource(&reachability); }
  void TearDown() override { platform::setReachabilitySource(nullptr); }

  Analytics::Configuration configuration() const {
    Analytics::Configuration config;
    config.storeDirectory = dir.path();
    config.httpsURL = collector.url();
    config.httpURL = collector.url("/plain");
    return config;
  }
  bool runUntilRequests(std::size_t count) {
    return platform::RunLoop::main().runUntil([&] { return collector.requests().size() >= count; },
                                              std::chrono::seconds(20));
  }

  platform::ManualReachabilitySource reachability;
  test_support::ScratchDirectory dir;
  testing::TestCollector collector;
};

TEST_F(AnalyticsTest, StartSequenceShipsItsUsageCodesWithTheFirstHit) {
  Analytics analytics(configuration());
  UsageTracker::getUsageSequence();
  analytics.setTrackUncaughtExceptions(true);
  analytics.setDispatchInterval(5);
  auto tracker = analytics.trackerWithTrackingId("AN-318264-9");
  ASSERT_TRUE(tracker);
  tracker->set("&sc", Value("start"));
  analytics.defaultTracker()->send({{"&t", Value("appview")}, {"&cd", Value("Frontpage")}});
  tracker->send({{"&t", Value("appview")}, {"&cd", Value("Article")}});
  tracker->anSend({{"&t", Value("appview")}});
  analytics.dispatch();
  ASSERT_TRUE(runUntilRequests(3));
  auto requests = collector.requests();
  EXPECT_NE(requests[0].target.find("&_u=.etnKoL&"), std::string::npos) << requests[0].target;
  for (const std::string& part : std::vector<std::string>{"t=appview", "cd=Frontpage", "tid=AN-318264-9", "sc=start", "v=1", "_v=mi2.0.1b",
                           "an=Vestavind", "cid=" + analytics.clientId().substr(0, 8)}) {
    EXPECT_NE(requests[0].target.find(part), std::string::npos) << part << " in " << requests[0].target;
  }
  EXPECT_NE(requests[1].target.find("&_u=.L&"), std::string::npos) << requests[1].target;
  // Nothing recorded in between: "_u" goes out as a bare name.
  EXPECT_NE(requests[2].target.find("&_u&"), std::string::npos) << requests[2].target;
  analytics.setTrackUncaughtExceptions(false);
}

// Hands everything on, as the reader's terminal mode wraps its tracker.
class ForwardingTracker final : public Tracker {
 public:
  explicit ForwardingTracker(std::shared_ptr<Tracker> inner) : inner_(std::move(inner)) {}
  void set(const std::string& name, const Value& value) override { inner_->set(name, value); }
  std::optional<std::string> get(const std::string& name) override { return inner_->get(name); }
  void send(const ParameterMap& parameters) override { inner_->send(parameters); }
  const std::string& name() const override { return inner_->name(); }
  void anSet(const std::string& name, const Value& value) override { inner_->anSet(name, value); }
  void anSend(const ParameterMap& parameters) override { inner_->anSend(parameters); }

 private:
  std::shared_ptr<Tracker> inner_;
};

TEST_F(AnalyticsTest, AWrappedTrackerAddsNoUsageCodeOfItsOwn) {
  Analytics analytics(configuration());
  analytics.setTrackerFactory([](std::shared_ptr<DispatchSender> dispatcher, const std::string& name) {
    auto inner = makeTracker(std::move(dispatcher), name);
    return inner ? std::make_shared<ForwardingTracker>(std::move(inner)) : nullptr;
  });
  UsageTracker::getUsageSequence();
  analytics.setTrackUncaughtExceptions(true);
  analytics.setDispatchInterval(5);
  analytics.trackerWithTrackingId("AN-318264-9")->set("&sc", Value("start"));
  analytics.defaultTracker()->send({{"&t", Value("appview")}, {"&cd", Value("Frontpage")}});
  analytics.dispatch();
  ASSERT_TRUE(runUntilRequests(1));
  auto target = collector.requests().at(0).target;
  EXPECT_NE(target.find("&_u=.etnKoL&"), std::string::npos) << target;
  EXPECT_NE(target.find("tid=AN-318264-9"), std::string::npos) << target;
  analytics.setTrackUncaughtExceptions(false);
}

TEST_F(AnalyticsTest, TrackersByNameAndTheDefaultTracker) {
  Analytics analytics(configuration());
  auto first = analytics.trackerWithTrackingId("AN-318264-9");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->name(), "AN-318264-9");
  EXPECT_EQ(first->get("&tid"), "AN-318264-9");
  EXPECT_EQ(analytics.trackerWithName(" AN-318264-9\n", "other"), first);
  EXPECT_EQ(first->get("&tid"), "AN-318264-9");
  {
    platform::LogCapture log;
    EXPECT_EQ(analytics.trackerWithName("   ", "x"), nullptr);
    EXPECT_TRUE(log.contains("Nil or empty name supplied. Cannot create tracker."));
  }
  EXPECT_EQ(analytics.defaultTracker(), first);
  analytics.removeTrackerByName("AN-318264-9");
  EXPECT_EQ(analytics.defaultTracker(), nullptr);
  auto second = analytics.trackerWithName("second", "AN-2");
  EXPECT_EQ(analytics.defaultTracker(), second);
}

TEST_F(AnalyticsTest, OptOutAndResetLeaveNothingBehind) {
  Analytics analytics(configuration());
  auto tracker = analytics.trackerWithTrackingId("AN-1");
  tracker->send({{"&t", Value("appview")}});
  EXPECT_FALSE(analytics.clientId().empty());
  analytics.setOptOut(true);
  tracker->send({{"&t", Value("appview")}});
  EXPECT_EQ(analytics.dispatcher()->dataStore().hitCount(), 0);
  analytics.reset();
  EXPECT_EQ(analytics.defaultTracker(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / kHitStoreFileName));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / kPropertyStoreFileName));
}

// Runs the crash helper and answers its wait status; its stderr goes to `log`.
int runCrashHelper(const std::string& url, const std::filesystem::path& dir, const char* mode,
                   const std::filesystem::path& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::string helper = ANALYTICS_CRASH_HELPER;
  std::string dirText = dir.string();
  std::vector<char*> argv{helper.data(), const_cast<char*>(url.c_str()), dirText.data(), const_cast<char*>(mode),
                          nullptr};
  pid_t pid = 0;
  int rc = posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(AnalyticsTest, UncaughtExceptionIsSentAsAFatalHitBeforeTheProcessEnds) {
  auto log = dir.path() / "stderr.txt";
  int status = runCrashHelper(collector.url(), dir.path() / "store", "once", log);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGABRT);
  auto requests = collector.requests();
  ASSERT_EQ(requests.size(), 1u) << readAll(log);
  const auto& target = requests[0].target;
  EXPECT_NE(target.find("t=exception"), std::string::npos) << target;
  EXPECT_NE(target.find("exf=1"), std::string::npos) << target;
  EXPECT_NE(target.find("exd=std%3A%3Aruntime_error%0ATrace%3A%0A"), std::string::npos) << target;
  auto err = readAll(log);
  EXPECT_NE(err.find("Uncaught exception: std::runtime_error: feed exploded"), std::string::npos) << err;
  // The previous handler still ran.
  EXPECT_NE(err.find("terminate called"), std::string::npos) << err;
}

// Hits left in a store directory (opened after the process that used it ended).
std::int64_t hitsLeftIn(const std::filesystem::path& directory) {
  platform::EventLoopThread thread("ANThread-check");
  DataStore::Options options;
  options.directory = directory;
  options.thread = &thread;
  return DataStore(options).hitCount();
}

TEST_F(AnalyticsTest, SecondUncaughtExceptionWaitsForTheFirstReportToFinish) {
  collector.setDelay(std::chrono::milliseconds(1500));
  auto log = dir.path() / "stderr.txt";
  int status = runCrashHelper(collector.url(), dir.path() / "store", "twice", log);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  auto err = readAll(log);
  EXPECT_NE(err.find("Bailing on multiple uncaught exceptions: std::logic_error: second failure"), std::string::npos)
      << err;
  // The first report ran to its end: its hit was answered and deleted, and
  // its previous handler ended the process.
  EXPECT_EQ(hitsLeftIn(dir.path() / "store"), 0) << err;
  EXPECT_NE(err.find("terminate called after throwing an instance of 'std::runtime_error'"), std::string::npos) << err;
}

TEST_F(AnalyticsTest, CrashReportCompletesItsExchangesWhenTheMainLoopCannotRun) {
  auto log = dir.path() / "stderr.txt";
  int status = runCrashHelper(collector.url(), dir.path() / "store", "blocked-main", log);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  auto requests = collector.requests();
  ASSERT_EQ(requests.size(), 3u) << readAll(log);
  EXPECT_NE(requests[0].target.find("cd=Frontpage"), std::string::npos) << requests[0].target;
  EXPECT_NE(requests[1].target.find("cd=Article"), std::string::npos) << requests[1].target;
  EXPECT_NE(requests[2].target.find("t=exception"), std::string::npos) << requests[2].target;
  // Nothing is left to go out again at the next launch.
  EXPECT_EQ(hitsLeftIn(dir.path() / "store"), 0);
}

}  // namespace
}  // namespace analytics
