#include "backend/net/command_runners.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <regex>
#include <thread>
#include <vector>

#include "backend/internal/internal_utils.hpp"
#include "backend/net/backend.hpp"
#include "backend/net/key_value_cache.hpp"
#include "platform/json.hpp"
#include "platform/log.hpp"
#include "support/backend/loopback_server.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend::net {
namespace {

using platform::Value;

class RunnerTest : public backend::testing::BackendTest {
 protected:
  void SetUp() override {
    BackendTest::SetUp();
    InternalUtils::setServer(server_.url());
    Backend::setApplicationId("app-id", "client-key");
    RetryingCommandRunner::setInitialDelay(0.005);
    KeyValueCache::mainCache().removeAllObjects();
  }
  void TearDown() override {
    KeyValueCache::mainCache().removeAllObjects();
    RetryingCommandRunner::setInitialDelay(1.0);
    InternalUtils::setServer(kDefaultServer);
    BackendTest::TearDown();
  }

  void answer(int status, std::string body, std::string type = "application/json") {
    server_.setHandler([=](const httplib::Request&, httplib::Response& response) {
      response.status = status;
      response.set_content(body, type);
    });
  }

  static CommandPtr find(int limit = 1) {
    return Command::commandWithServerOperation("find", Value::dictionary({{"classname", "Story"}, {"limit", limit}}),
                                               std::nullopt);
  }

  template <class T>
  static Task<T> wait(Task<T> task) {
    task.waitUntilFinished();
    return task;
  }

  backend::testing::LoopbackServer server_;
};

TEST_F(RunnerTest, RequestOnTheWireIsASignedJSONPost) {
  answer(200, "{\"result\":{\"n\":1}}");
  auto command = Command::commandWithServerOperation(
      "get", Value::dictionary({{"classname", "Story"}, {"data", Value::dictionary({{"objectId", "x1"}})}}),
      std::string("tok"));
  auto task = wait(NetworkCommandRunner::runCommandAsync(command));
  ASSERT_FALSE(task.error());
  EXPECT_EQ(task.result().result["n"].longLongValue(), 1);
  EXPECT_EQ(task.result().resultString, "{\"result\":{\"n\":1}}");

  auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& request = requests[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.path, "/2/get");
  EXPECT_EQ(request.header("Content-Type"), "application/json; charset=utf-8");
  EXPECT_EQ(request.header("Accept-Encoding"), "gzip");
  auto body = platform::json::parse(request.body).value();
  EXPECT_EQ(body["v"], Value("i1.4.2"));
  EXPECT_EQ(body["iid"], Value(InternalUtils::installationId()));
  EXPECT_EQ(body["session_token"], Value("tok"));
  EXPECT_EQ(body["data"]["objectId"], Value("x1"));
  EXPECT_TRUE(body["uuid"].isString());
  EXPECT_FALSE(command->params().contains("v"));
  EXPECT_FALSE(command->params().contains("iid"));
  // The signature itself is checked by the devserver on every command.
  EXPECT_EQ(request.header("Authorization").rfind("OAuth ", 0), 0u);
  EXPECT_NE(request.header("Authorization").find("oauth_signature=\""), std::string::npos);
}

TEST_F(RunnerTest, AnswersReadAsResultsOrErrors) {
  answer(200, "{\"result\":{}}");
  EXPECT_FALSE(wait(NetworkCommandRunner::runCommandAsync(find())).error());

  answer(200, "{\"code\":101,\"error\":\"no results matched the query\"}");
  auto server = wait(NetworkCommandRunner::runCommandAsync(find()));
  ASSERT_TRUE(server.error());
  EXPECT_EQ(server.error()->code, 101);
  EXPECT_EQ(server.error()->message(), "no results matched the query");

  answer(200, "{\"other\":1}");
  EXPECT_EQ(wait(NetworkCommandRunner::runCommandAsync(find())).error()->code, 0);

  for (int status : {404, 304, 401, 500}) {
    answer(status, "{}");
    auto failed = wait(NetworkCommandRunner::runCommandAsync(find()));
    ASSERT_TRUE(failed.error()) << status;
    EXPECT_EQ(failed.error()->code, 100);
    EXPECT_EQ(failed.error()->userInfo["temporary"].boolValue(), status != 401 && status != 500) << status;
  }

  answer(200, "<html>", "text/html");
  EXPECT_EQ(wait(NetworkCommandRunner::runCommandAsync(find())).error()->code, 100);
}

TEST_F(RunnerTest, RetriesTemporaryFailuresWithDoublingPauses) {
  std::atomic<int> calls{0};
  server_.setHandler([&](const httplib::Request&, httplib::Response& response) {
    if (++calls <= 3) response.status = 503;
    response.set_content("{\"result\":\"ok\"}", "application/json");
  });
  platform::LogCapture log;
  auto task = wait(RetryingCommandRunner::runCommandAsync(find()));
  ASSERT_FALSE(task.error());
  EXPECT_EQ(task.result().result, Value("ok"));
  EXPECT_EQ(calls.load(), 4);
  std::vector<double> pauses;
  std::regex line("Making attempt (\\d) after sleeping for ([0-9.]+) seconds");
  for (const auto& text : log.lines()) {
    std::smatch match;
    if (std::regex_search(text, match, line)) {
      EXPECT_EQ(std::stoi(match[1]), static_cast<int>(pauses.size()) + 2);
      pauses.push_back(std::stod(match[2]));
    }
  }
  ASSERT_EQ(pauses.size(), 3u);
  EXPECT_GE(pauses[0], 0.005);
  EXPECT_LE(pauses[0], 0.0100001);
  EXPECT_NEAR(pauses[1], 2 * pauses[0], 5e-6);  // the line prints six decimals
  EXPECT_NEAR(pauses[2], 4 * pauses[0], 5e-6);
}

TEST_F(RunnerTest, StopsAfterFiveAttemptsAndNeverRetriesPermanentFailures) {
  answer(503, "{}");
  auto task = wait(RetryingCommandRunner::runCommandAsync(find()));
  EXPECT_EQ(task.error()->code, 100);
  EXPECT_EQ(server_.requestCount(), 5u);

  answer(401, "{}");
  wait(RetryingCommandRunner::runCommandAsync(find()));
  EXPECT_EQ(server_.requestCount(), 6u);

  answer(200, "{\"code\":141,\"error\":\"script failed\"}");
  wait(RetryingCommandRunner::runCommandAsync(find()));
  EXPECT_EQ(server_.requestCount(), 7u);
}

TEST_F(RunnerTest, CancellationBeforeAndDuringARun) {
  auto cancelled = http::BlockOperation::create([] {});
  cancelled->cancel();
  EXPECT_TRUE(wait(RetryingCommandRunner::runCommandAsync(find(), cancelled)).isCancelled());
  EXPECT_EQ(server_.requestCount(), 0u);

  // Shared with the server thread, which may outlive this frame's locals.
  auto arrived = std::make_shared<std::promise<void>>();
  auto arrivedFuture = arrived->get_future();
  std::promise<void> release;
  auto released = release.get_future().share();
  server_.setHandler([arrived, released](const httplib::Request&, httplib::Response& response) {
    arrived->set_value();
    released.wait();
    response.set_content("{\"result\":1}", "application/json");
  });
  auto flag = http::BlockOperation::create([] {});
  auto task = NetworkCommandRunner::runCommandAsync(find(), flag);
  arrivedFuture.wait();
  flag->cancel();
  release.set_value();
  EXPECT_TRUE(wait(task).isCancelled());
}

// Small answers are read on the network thread and large ones on the
// background queue; both reach the task. An answer the typed decoder refuses
// fails its own task and leaves the runner working.
TEST_F(RunnerTest, AnswersOfAnySizeAndRefusedAnswersEndTheTask) {
  std::string big(200 * 1024, 'x');
  answer(200, "{\"result\":\"" + big + "\"}");
  auto large = wait(NetworkCommandRunner::runCommandAsync(find()));
  ASSERT_FALSE(large.error());
  EXPECT_EQ(large.result().result, Value(big));

  answer(200, "{\"result\":{\"__type\":\"Pointer\",\"className\":\"_Nope\",\"objectId\":\"x\"}}");
  auto refused = wait(NetworkCommandRunner::runCommandAsync(find()));
  EXPECT_TRUE(refused.exception());

  answer(200, "{\"result\":2}");
  auto after = wait(NetworkCommandRunner::runCommandAsync(find()));
  ASSERT_FALSE(after.error());
  EXPECT_EQ(after.result().result.longLongValue(), 2);
}

// Cancelling the runner's queue cancels the completions waiting in it too;
// each of their runs must still end rather than wait for ever.
TEST_F(RunnerTest, CancellingTheQueueEndsEveryWaitingRun) {
  auto arrivals = std::make_shared<std::atomic<int>>(0);
  auto release = std::make_shared<std::promise<void>>();
  auto released = release->get_future().share();
  server_.setHandler([arrivals, released](const httplib::Request&, httplib::Response& response) {
    ++*arrivals;
    released.wait();
    response.set_content("{\"result\":1}", "application/json");
  });
  std::vector<Task<CommandResult>> tasks;
  for (int i = 0; i < 4; ++i) tasks.push_back(NetworkCommandRunner::runCommandAsync(find()));
  while (arrivals->load() < 3) std::this_thread::yield();
  NetworkCommandRunner::queue().cancelAllOperations();
  release->set_value();
  for (auto& task : tasks) EXPECT_TRUE(wait(task).isCancelled());
  EXPECT_EQ(server_.requestCount(), 3u);
}

TEST_F(RunnerTest, CachePolicies) {
  answer(200, "{\"result\":{\"v\":1}}");
  // 1 with nothing cached: a miss.
  auto miss = wait(CachedCommandRunner::runCommandAsync(find(), kCachePolicyCacheOnly, 60));
  EXPECT_EQ(miss.error()->code, 120);
  EXPECT_EQ(miss.error()->message(), "cache miss");
  // 0 leaves the cache alone.
  EXPECT_FALSE(wait(CachedCommandRunner::runCommandAsync(find(), kCachePolicyIgnoreCache, 60)).error());
  KeyValueCache::mainCache().waitForDiskFlush();
  EXPECT_FALSE(KeyValueCache::mainCache().objectForKey(find()->cacheKey(), 60));
  // 3 without an entry goes to the network and caches the answer text.
  EXPECT_FALSE(wait(CachedCommandRunner::runCommandAsync(find(), kCachePolicyCacheElseNetwork, 60)).error());
  EXPECT_EQ(KeyValueCache::mainCache().objectForKey(find()->cacheKey(), 60),
            std::optional<std::string>("{\"result\":{\"v\":1}}"));
  auto sent = server_.requestCount();
  // 3 with an entry sends nothing; 1 reads it.
  answer(200, "{\"result\":{\"v\":2}}");
  auto cached = wait(CachedCommandRunner::runCommandAsync(find(), kCachePolicyCacheElseNetwork, 60));
  EXPECT_EQ(cached.result().result["v"].longLongValue(), 1);
  EXPECT_EQ(wait(CachedCommandRunner::runCommandAsync(find(), kCachePolicyCacheOnly, 60)).result().result["v"].longLongValue(), 1);
  EXPECT_EQ(server_.requestCount(), sent);
  // 2 refreshes the entry.
  EXPECT_EQ(wait(CachedCommandRunner::runCommandAsync(find(), kCachePolicyNetworkOnly, 60)).result().result["v"].longLongValue(), 2);
  EXPECT_EQ(wait(CachedCommandRunner::runCommandAsync(find(), kCachePolicyCacheOnly, 60)).result().result["v"].longLongValue(), 2);
  // 4 with the network failing: one attempt, then the cached answer.
  answer(503, "{}");
  sent = server_.requestCount();
  auto fallback = wait(CachedCommandRunner::runCommandAsync(find(), kCachePolicyNetworkElseCache, 60));
  ASSERT_FALSE(fallback.error());
  EXPECT_EQ(fallback.result().result["v"].longLongValue(), 2);
  EXPECT_EQ(server_.requestCount(), sent + 1);
  // 4 without an entry ends in the miss.
  EXPECT_EQ(wait(CachedCommandRunner::runCommandAsync(find(2), kCachePolicyNetworkElseCache, 60)).error()->code, 120);
  // Corrupt entries.
  KeyValueCache::mainCache().setObject("{broken", find(3)->cacheKey());
  auto corrupt = wait(CachedCommandRunner::runCommandAsync(find(3), kCachePolicyCacheOnly, 60));
  EXPECT_EQ(corrupt.error()->message(), "the cache contains corrupted json");

  EXPECT_THROW(CachedCommandRunner::runCommandAsync(find(), 5, 60), platform::InternalInconsistencyException);
  try {
    CachedCommandRunner::runCommandAsync(find(), 7, 60);
    ADD_FAILURE();
  } catch (const platform::InternalInconsistencyException& e) {
    EXPECT_STREQ(e.what(), "Unrecognized cache policy: 7");
  }
}

TEST(BlockRetryer, ReturnsTheFirstValueOrNilAfterAllAttempts) {
  int calls = 0;
  auto retryer = BlockRetryer::retryBlock([&]() -> Value { return ++calls == 5 ? Value("done") : Value(); }, 5);
  EXPECT_EQ(retryer.go(), Value("done"));
  EXPECT_EQ(retryer.attemptsMade(), 5);
  calls = 0;
  auto never = BlockRetryer::retryBlock([&]() -> Value { return ++calls, Value(); }, 5);
  EXPECT_TRUE(never.go().isNil());
  EXPECT_EQ(calls, 5);
}

TEST(BackendConfiguration, UnconfiguredClientRaisesTheMessage) {
  ClientConfiguration::reset();
  try {
    Backend::getClientKey();
    ADD_FAILURE();
  } catch (const platform::InternalInconsistencyException& e) {
    EXPECT_STREQ(e.what(), "You have to call setApplicationId:clientKey: on Backend to configure Backend.");
  }
}

}  // namespace
}  // namespace backend::net
