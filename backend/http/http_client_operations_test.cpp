#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

#include "backend/http/http_client.hpp"
#include "backend/http/json_request_operation.hpp"
#include "platform/run_loop.hpp"
#include "support/backend/loopback_server.hpp"
#include "support/backend/raw_http_server.hpp"

namespace backend::http {
namespace {

using backend::testing::RawHTTPServer;
using platform::RunLoop;
using platform::Value;
using namespace std::chrono_literals;

std::shared_ptr<HTTPRequestOperation> operationFor(HTTPClient& client, std::string_view method, std::string_view path) {
  return client.HTTPRequestOperationWithRequest(client.requestWithMethod(method, path, Value()), {}, {});
}

std::shared_future<void> finished(const std::shared_ptr<HTTPRequestOperation>& operation) {
  auto promise = std::make_shared<std::promise<void>>();
  operation->whenFinished([promise] { promise->set_value(); });
  return promise->get_future().share();
}

TEST(HTTPClientOperations, EveryPathCallReportsItsOutcomeThoughNobodyHoldsTheOperation) {
  backend::testing::LoopbackServer server;
  auto client = HTTPClient::clientWithBaseURL(server.url("/"));
  std::atomic<int> answered{0};
  auto success = [&](const auto&, const auto&) { ++answered; };
  auto failure = [&](const auto&, const auto&) { ++answered; };
  constexpr int kRounds = 4;
  for (int round = 0; round < kRounds; ++round) {
    client->getPath("g", Value(), success, failure);
    client->postPath("p", Value(), success, failure);
    client->putPath("u", Value(), success, failure);
    client->deletePath("d", Value(), success, failure);
    client->patchPath("a", Value(), success, failure);
  }
  EXPECT_TRUE(RunLoop::main().runUntil([&] { return answered.load() == 5 * kRounds; }, 20s))
      << answered.load() << " of " << 5 * kRounds << " answered";
}

TEST(HTTPClientOperations, ABatchStillWaitingWhenItsClientGoesEndsCancelledAndCompletes) {
  auto release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  backend::testing::LoopbackServer server;
  server.setHandler([released](const httplib::Request&, httplib::Response& response) {
    released.wait();
    response.set_content("{}", "application/json");
  });
  auto client = HTTPClient::clientWithBaseURL(server.url("/"));
  std::vector<URLRequest> requests;
  for (int i = 0; i < 6; ++i) requests.push_back(client->requestWithMethod("GET", "held", Value()));
  std::optional<std::vector<std::shared_ptr<HTTPRequestOperation>>> completed;
  client->enqueueBatchOfHTTPRequestOperationsWithRequests(
      std::move(requests), nullptr, [&](const auto& operations) { completed = operations; });
  ASSERT_TRUE(server.waitForRequests(4));
  client.reset();
  release->set_value();
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return completed.has_value(); }, 20s));
  ASSERT_EQ(completed->size(), 6u);
  int cancelled = 0;
  for (const auto& operation : *completed) cancelled += operation->isCancelled() ? 1 : 0;
  EXPECT_EQ(cancelled, 2);
}

TEST(HTTPClientOperations, CancelAllMatchesMethodAndResolvedPathOnly) {
  auto release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  RawHTTPServer server([released](const std::string&, int socket) {
    released.wait();
    RawHTTPServer::send(socket, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 4\r\n\r\ndone");
  });
  HTTPClient client(server.url() + "/2/");
  auto getA = operationFor(client, "GET", "slow/a");
  auto getAQuery = operationFor(client, "GET", "slow/a?page=2");
  auto postA = operationFor(client, "POST", "slow/a");
  auto getB = operationFor(client, "GET", "slow/b");
  auto queuedGetA = operationFor(client, "GET", "/2/slow/a");  // fifth: waits for a free slot
  std::vector all{getA, getAQuery, postA, getB, queuedGetA};
  std::vector<std::shared_future<void>> done;
  for (auto& operation : all) {
    done.push_back(finished(operation));
    client.enqueueHTTPRequestOperation(operation);
  }
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return server.requestHeads().size() == 4; }, 60s));

  client.cancelAllHTTPOperationsWithMethod("GET", "slow/a");
  for (int i : {0, 1, 4}) {
    done[i].wait();
    EXPECT_TRUE(all[i]->isCancelled()) << i;
    EXPECT_EQ(all[i]->error()->code, kURLErrorCancelled) << i;
  }
  EXPECT_FALSE(postA->isCancelled());
  EXPECT_FALSE(getB->isCancelled());

  client.cancelAllHTTPOperationsWithMethod("", "slow/b");
  done[3].wait();
  EXPECT_TRUE(getB->isCancelled());

  release->set_value();
  done[2].wait();
  EXPECT_FALSE(postA->error());
  EXPECT_EQ(postA->responseString(), "done");
  EXPECT_EQ(server.requestHeads().size(), 4u);  // the queued one never went out
}

TEST(HTTPClientOperations, BatchReportsEachFinishInOrderAndCompletesOnce) {
  RawHTTPServer server([](const std::string& head, int socket) {
    auto status = head.starts_with("GET /missing ") ? "404 Not Found" : "200 OK";
    RawHTTPServer::send(socket, std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 1\r\n\r\nx");
  });
  HTTPClient client(server.url() + "/");
  std::vector<std::pair<std::size_t, std::size_t>> progress;
  std::vector<std::string> events;
  int completions = 0;
  std::vector<std::shared_ptr<HTTPRequestOperation>> completed;
  client.enqueueBatchOfHTTPRequestOperationsWithRequests(
      {client.requestWithMethod("GET", "a", Value()), client.requestWithMethod("GET", "missing", Value()),
       client.requestWithMethod("POST", "c", Value::dictionary({{"k", "v"}}))},
      [&](std::size_t finished, std::size_t total) {
        EXPECT_TRUE(platform::isMainThread());
        progress.emplace_back(finished, total);
        events.push_back("progress");
      },
      [&](const auto& operations) {
        EXPECT_TRUE(platform::isMainThread());
        ++completions;
        completed = operations;
        events.push_back("completion");
      });
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return completions > 0; }, 60s));
  RunLoop::main().drain();
  EXPECT_EQ(completions, 1);
  EXPECT_EQ(progress, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 3}, {2, 3}, {3, 3}}));
  EXPECT_EQ(events.back(), "completion");
  ASSERT_EQ(completed.size(), 3u);
  for (const auto& operation : completed) EXPECT_TRUE(operation->isFinished());
  EXPECT_EQ(completed[1]->error()->code, kURLErrorBadServerResponse);

  int emptyCompletions = 0;
  client.enqueueBatchOfHTTPRequestOperations({}, [&](auto, auto) { ADD_FAILURE() << "no progress expected"; },
                                             [&](const auto& operations) {
                                               EXPECT_TRUE(operations.empty());
                                               ++emptyCompletions;
                                             });
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return emptyCompletions > 0; }, 60s));
  RunLoop::main().drain();
  EXPECT_EQ(emptyCompletions, 1);
}

// Accepts only requests to paths ending in ".special".
class SpecialOperation : public HTTPRequestOperation {
 public:
  using HTTPRequestOperation::HTTPRequestOperation;
  static std::shared_ptr<HTTPRequestOperation> create(URLRequest request) {
    return std::make_shared<SpecialOperation>(std::move(request));
  }
  static bool canProcessRequest(const URLRequest& request) {
    return request.url.size() > 8 && request.url.ends_with(".special");
  }
};

TEST(HTTPClientOperations, FactoryTakesTheFirstRegisteredClassThatAcceptsTheRequest) {
  HTTPClient client("http://example.test/2/");
  EXPECT_TRUE(client.registerHTTPOperationClass(HTTPOperationClass::of<SpecialOperation>("SpecialOperation")));
  EXPECT_TRUE(client.registerHTTPOperationClass(HTTPOperationClass::of<JSONRequestOperation>("JSONRequestOperation")));
  EXPECT_FALSE(client.registerHTTPOperationClass(HTTPOperationClass::of<JSONRequestOperation>("JSONRequestOperation")));
  EXPECT_EQ(client.registeredHTTPOperationClassNames(),
            (std::vector<std::string>{"SpecialOperation", "JSONRequestOperation"}));

  auto make = [&](std::string_view path) {
    return client.HTTPRequestOperationWithRequest(client.requestWithMethod("GET", path, Value()), {}, {});
  };
  EXPECT_TRUE(std::dynamic_pointer_cast<SpecialOperation>(make("feed.special")));
  EXPECT_TRUE(std::dynamic_pointer_cast<JSONRequestOperation>(make("feed.json")));
  auto plain = make("page.html");
  EXPECT_FALSE(std::dynamic_pointer_cast<JSONRequestOperation>(plain));
  EXPECT_FALSE(std::dynamic_pointer_cast<SpecialOperation>(plain));

  client.setDefaultHeader("Accept", "text/html, application/json;q=0.9");
  EXPECT_TRUE(std::dynamic_pointer_cast<JSONRequestOperation>(make("page.html")));
  client.unregisterHTTPOperationClass("JSONRequestOperation");
  EXPECT_FALSE(std::dynamic_pointer_cast<JSONRequestOperation>(make("page.html")));
  EXPECT_EQ(client.registeredHTTPOperationClassNames(), std::vector<std::string>{"SpecialOperation"});
}

}  // namespace
}  // namespace backend::http
