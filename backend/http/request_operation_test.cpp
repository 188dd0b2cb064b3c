#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "backend/http/json_request_operation.hpp"
#include "backend/http/network_activity_indicator_manager.hpp"
#include "platform/notification_center.hpp"
#include "support/backend/loopback_server.hpp"
#include "support/eventually.hpp"
#include "support/manual_clock.hpp"

namespace backend::http {
namespace {

using backend::testing::LoopbackServer;
using namespace std::chrono_literals;

URLRequest get(const LoopbackServer& server, const std::string& path) {
  URLRequest request;
  request.url = server.url() + path;
  return request;
}

// Runs the operation and waits until it has finished.
template <class Op>
void runToEnd(const std::shared_ptr<Op>& operation) {
  std::promise<void> done;
  operation->whenFinished([&] { done.set_value(); });
  operation->start();
  done.get_future().wait();
}

struct Outcome {
  std::optional<platform::Error> error;
  std::optional<platform::Value> json;
};

// Runs a JSON operation and collects which block ran.
Outcome runJSON(URLRequest request) {
  std::promise<Outcome> promise;
  auto operation = JSONRequestOperation::JSONRequestOperationWithRequest(
      std::move(request), [&](const auto&, const platform::Value& json) { promise.set_value({std::nullopt, json}); },
      [&](const auto&, const platform::Error& error) { promise.set_value({error, std::nullopt}); });
  operation->setSuccessCallbackQueue(&platform::backgroundQueue());
  operation->setFailureCallbackQueue(&platform::backgroundQueue());
  operation->start();
  return promise.get_future().get();
}

TEST(HTTPRequestOperation, StatusCodesOutside200To299FailWithTheQuotedMessage) {
  LoopbackServer server;
  server.setHandler([](const httplib::Request& request, httplib::Response& response) {
    response.status = std::stoi(request.path.substr(1));
    if (response.status != 204 && response.status != 304) response.set_content("x", "text/plain");
  });
  for (int status : {200, 204, 299}) {
    auto operation = HTTPRequestOperation::create(get(server, "/" + std::to_string(status)));
    runToEnd(operation);
    EXPECT_FALSE(operation->error()) << status;
  }
  for (int status : {304, 404, 500}) {
    auto operation = HTTPRequestOperation::create(get(server, "/" + std::to_string(status)));
    runToEnd(operation);
    ASSERT_TRUE(operation->error()) << status;
    EXPECT_EQ(operation->error()->code, kURLErrorBadServerResponse);
    EXPECT_EQ(operation->error()->message(), "Expected status code in (200-299), got " + std::to_string(status));
    EXPECT_EQ(operation->error()->userInfo[kURLErrorFailingURLStringKey].asString(), server.url() + "/" + std::to_string(status));
  }
}

TEST(JSONRequestOperation, JudgesContentTypeAndParsesLazily) {
  LoopbackServer server;
  server.setHandler([](const httplib::Request& request, httplib::Response& response) {
    if (request.path == "/html") response.set_content("<p>", "text/html");
    else if (request.path == "/broken") response.set_content("{nope", "application/json");
    else response.set_content("{\"result\":[1,2]}", "text/javascript; charset=utf-8");
  });
  auto good = runJSON(get(server, "/ok"));
  ASSERT_FALSE(good.error);
  EXPECT_EQ((*good.json)["result"][1].longLongValue(), 2);

  auto html = runJSON(get(server, "/html"));
  ASSERT_TRUE(html.error);
  EXPECT_EQ(html.error->code, kURLErrorCannotDecodeContentData);
  EXPECT_NE(html.error->message().find("got text/html"), std::string::npos);

  auto broken = runJSON(get(server, "/broken"));
  ASSERT_TRUE(broken.error);
  EXPECT_EQ(broken.error->domain, "JSON");
}

TEST(URLConnectionOperation, CancelBeforeStartSendsNothingAndCallsNoBlock) {
  LoopbackServer server;
  std::atomic<int> blocks{0};
  auto operation = HTTPRequestOperation::create(get(server, "/x"));
  operation->setCompletionBlockWithSuccess([&](const auto&, const auto&) { ++blocks; },
                                           [&](const auto&, const auto&) { ++blocks; });
  operation->setSuccessCallbackQueue(&platform::backgroundQueue());
  operation->setFailureCallbackQueue(&platform::backgroundQueue());
  std::promise<void> done;
  operation->whenFinished([&] { done.set_value(); });
  operation->cancel();
  done.get_future().wait();
  operation->start();  // a finished operation stays finished
  EXPECT_TRUE(operation->isFinished());
  EXPECT_EQ(operation->error()->code, kURLErrorCancelled);
  EXPECT_EQ(server.requestCount(), 0u);
  EXPECT_EQ(blocks.load(), 0);
}

TEST(URLConnectionOperation, CancelInFlightFinishesWithMinus999) {
  LoopbackServer server;
  // Shared with the server thread, which may outlive this frame's locals.
  auto arrived = std::make_shared<std::promise<void>>();
  auto arrivedFuture = arrived->get_future();
  std::promise<void> release;
  auto released = release.get_future().share();
  server.setHandler([arrived, released](const httplib::Request&, httplib::Response& response) {
    arrived->set_value();
    released.wait();
    response.set_content("late", "text/plain");
  });
  auto operation = HTTPRequestOperation::create(get(server, "/slow"));
  std::promise<void> done;
  operation->whenFinished([&] { done.set_value(); });
  operation->start();
  arrivedFuture.wait();
  operation->cancel();
  done.get_future().wait();
  release.set_value();
  EXPECT_TRUE(operation->isCancelled());
  ASSERT_TRUE(operation->error());
  EXPECT_EQ(operation->error()->code, kURLErrorCancelled);
  EXPECT_EQ(operation->responseString(), "");
}

TEST(URLConnectionOperation, PostsStartAndFinishAndReusesTheConnection) {
  LoopbackServer server;
  std::atomic<int> starts{0}, finishes{0};
  auto& center = platform::NotificationCenter::defaultCenter();
  platform::ScopedObserver a(center, center.addObserver(kOperationDidStartNotification, [&](const auto&) { ++starts; }));
  platform::ScopedObserver b(center, center.addObserver(kOperationDidFinishNotification, [&](const auto&) { ++finishes; }));
  for (int i = 0; i < 3; ++i) {
    auto operation = URLConnectionOperation::create(get(server, "/r"));
    runToEnd(operation);
    EXPECT_EQ(operation->responseString(), "{\"result\":{}}");
    EXPECT_EQ(operation->response()->statusCode, 200);
    EXPECT_EQ(operation->response()->mimeType, "application/json");
  }
  EXPECT_EQ(starts.load(), 3);
  EXPECT_EQ(finishes.load(), 3);
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].remotePort, requests[2].remotePort);  // one kept-alive connection
}

TEST(HTTPRequestOperation, PauseAsksForTheRestAndResumeSendsIt) {
  LoopbackServer server;
  server.setHandler([](const httplib::Request&, httplib::Response& response) {
    response.set_header("ETag", "\"v1\"");
    response.set_content("0123456789", "text/plain");
  });
  auto operation = HTTPRequestOperation::create(get(server, "/file"));
  runToEnd(operation);
  EXPECT_EQ(operation->responseData(), "0123456789");

  auto paused = HTTPRequestOperation::create(get(server, "/file"));
  paused->pause();
  EXPECT_TRUE(paused->isPaused());
  EXPECT_EQ(paused->request().headers.get("Range"), std::optional<std::string>("bytes=0-"));
  std::promise<void> done;
  paused->whenFinished([&] { done.set_value(); });
  paused->resume();
  done.get_future().wait();
  EXPECT_EQ(server.requests().back().header("Range"), "bytes=0-");
  EXPECT_EQ(paused->responseData(), "0123456789");
}

TEST(URLConnectionOperation, CancellingAPausedOperationFinishesItAndStartsPairWithFinishes) {
  LoopbackServer server;
  std::atomic<int> starts{0}, finishes{0};
  auto& center = platform::NotificationCenter::defaultCenter();
  platform::ScopedObserver a(center, center.addObserver(kOperationDidStartNotification, [&](const auto&) { ++starts; }));
  platform::ScopedObserver b(center, center.addObserver(kOperationDidFinishNotification, [&](const auto&) { ++finishes; }));

  auto neverRan = URLConnectionOperation::create(get(server, "/r"));
  neverRan->cancel();
  EXPECT_TRUE(test_support::eventually([&] { return neverRan->isFinished(); }));

  auto paused = URLConnectionOperation::create(get(server, "/r"));
  paused->pause();
  std::promise<void> done;
  paused->whenFinished([&] { done.set_value(); });
  paused->cancel();
  ASSERT_EQ(done.get_future().wait_for(20s), std::future_status::ready) << "a cancelled paused operation must finish";
  EXPECT_EQ(paused->error()->code, kURLErrorCancelled);

  auto ran = URLConnectionOperation::create(get(server, "/r"));
  runToEnd(ran);
  EXPECT_EQ(starts.load(), 1);
  EXPECT_EQ(finishes.load(), 1);
}

TEST(URLConnectionOperation, TheTimeoutBoundsSilenceNotTheWholeTransfer) {
  // The silent answer is held until the test ends (before the server stops).
  std::promise<void> silenceOver;
  std::shared_future<void> silence = silenceOver.get_future().share();
  LoopbackServer server;
  struct EndSilence {
    std::promise<void>& over;
    ~EndSilence() { over.set_value(); }
  } endSilence{silenceOver};
  server.setHandler([silence](const httplib::Request& request, httplib::Response& response) {
    if (request.path == "/slow") {
      // Twelve bytes over well beyond the timeout, never silent for long.
      response.set_chunked_content_provider("text/plain", [sent = 0](std::size_t, httplib::DataSink& sink) mutable {
        std::this_thread::sleep_for(150ms);
        if (sent++ == 12) {
          sink.done();
          return true;
        }
        return sink.write("x", 1);
      });
    } else {
      silence.wait();
      response.set_content("late", "text/plain");
    }
  });
  URLRequest slow = get(server, "/slow");
  slow.timeoutInterval = 0.6;
  slow.headers.set("Accept-Encoding", "identity");  // a compressed answer would arrive in one piece
  auto trickling = URLConnectionOperation::create(slow);
  runToEnd(trickling);
  EXPECT_FALSE(trickling->error()) << trickling->error()->message();
  EXPECT_EQ(trickling->responseString(), "xxxxxxxxxxxx");

  URLRequest silent = get(server, "/silent");
  silent.timeoutInterval = 0.5;
  auto stalled = URLConnectionOperation::create(silent);
  runToEnd(stalled);
  ASSERT_TRUE(stalled->error());
  EXPECT_EQ(stalled->error()->code, kURLErrorTimedOut);
}

TEST(URLConnectionOperation, RedirectsAreFollowedOnlySoFar) {
  LoopbackServer server;
  server.setHandler([](const httplib::Request&, httplib::Response& response) {
    response.status = 302;
    response.set_header("Location", "/again");
  });
  auto looping = URLConnectionOperation::create(get(server, "/start"));
  runToEnd(looping);
  EXPECT_TRUE(looping->error());
  EXPECT_LE(server.requestCount(), 11u);
}

TEST(NetworkActivityIndicator, StaysOnBetweenRequestsCloserThanTheHideDelay) {
  LoopbackServer server;
  test_support::ManualClock clock;
  NetworkActivityIndicatorManager manager;
  manager.setEnabled(true);
  std::mutex mutex;
  std::vector<bool> changes;
  manager.setVisibilityHandler([&](bool visible) {
    std::lock_guard lock(mutex);
    changes.push_back(visible);
  });
  runToEnd(URLConnectionOperation::create(get(server, "/a")));
  ASSERT_TRUE(clock.waitForAlarms(1));  // the hide check, 170 ms after the end
  clock.advance(100ms);
  runToEnd(URLConnectionOperation::create(get(server, "/b")));
  // The first check finds the second end too recent and waits for the rest.
  clock.advance(70ms);
  ASSERT_TRUE(clock.waitForAlarms(1));
  clock.advance(100ms);
  ASSERT_TRUE(test_support::eventually([&] { return !manager.isIndicatorShown(); }));
  std::lock_guard lock(mutex);
  EXPECT_EQ(changes, (std::vector<bool>{true, false}));
  EXPECT_EQ(manager.activityCount(), 0);
}

}  // namespace
}  // namespace backend::http
