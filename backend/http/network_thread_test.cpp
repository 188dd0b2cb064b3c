#include <gtest/gtest.h>

#include <future>
#include <vector>

#include "backend/http/url_connection_operation.hpp"
#include "support/backend/loopback_server.hpp"

namespace backend::http {
namespace {

using backend::testing::LoopbackServer;

URLRequest requestFor(const LoopbackServer& server, const std::string& path, const std::string& method = "GET") {
  URLRequest request;
  request.url = server.url() + path;
  request.method = method;
  return request;
}

std::shared_ptr<URLConnectionOperation> runToEnd(URLRequest request) {
  auto operation = URLConnectionOperation::create(std::move(request));
  std::promise<void> done;
  operation->whenFinished([&] { done.set_value(); });
  operation->start();
  done.get_future().wait();
  return operation;
}

// One transfer after another takes the same recycled handle, so whatever a
// transfer set must be gone for the next.
TEST(NetworkThread, RecycledHandlesCarryNothingFromTheirLastTransfer) {
  LoopbackServer server;
  server.setHandler([](const httplib::Request&, httplib::Response& response) {
    response.set_content("hello", "text/plain");
  });
  runToEnd(requestFor(server, "/head", "HEAD"));
  auto post = requestFor(server, "/post", "POST");
  post.body = "payload";
  post.headers.set("X-Once", "1");
  runToEnd(post);
  auto get = runToEnd(requestFor(server, "/get"));

  EXPECT_EQ(get->responseString(), "hello");
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "HEAD");
  EXPECT_EQ(requests[1].method, "POST");
  EXPECT_EQ(requests[1].body, "payload");
  EXPECT_EQ(requests[2].method, "GET");
  EXPECT_EQ(requests[2].body, "");
  EXPECT_EQ(requests[2].header("X-Once"), "");
  EXPECT_EQ(requests[0].remotePort, requests[2].remotePort);
}

// More transfers at once than handles are kept idle, twice: the handles given
// back past the limit are freed, the rest serve the second round.
TEST(NetworkThread, BurstsWiderThanTheIdlePoolAllFinish) {
  LoopbackServer server;
  for (int round = 0; round < 2; ++round) {
    std::vector<std::shared_ptr<URLConnectionOperation>> operations;
    std::vector<std::future<void>> finished;
    for (int i = 0; i < 20; ++i) {
      auto operation = URLConnectionOperation::create(requestFor(server, "/n" + std::to_string(i)));
      auto done = std::make_shared<std::promise<void>>();
      finished.push_back(done->get_future());
      operation->whenFinished([done] { done->set_value(); });
      operations.push_back(operation);
    }
    for (auto& operation : operations) operation->start();
    for (auto& future : finished) future.wait();
    for (auto& operation : operations) {
      EXPECT_FALSE(operation->error());
      EXPECT_EQ(operation->responseString(), "{\"result\":{}}");
    }
  }
  EXPECT_EQ(server.requestCount(), 40u);
}

// A transfer cancelled mid-flight gives its handle back; the next one on it
// gets its own answer, not the tail of the cancelled one.
TEST(NetworkThread, AHandleFreedByCancelServesTheNextTransfer) {
  LoopbackServer server;
  auto arrived = std::make_shared<std::promise<void>>();
  auto arrivedFuture = arrived->get_future();
  auto release = std::make_shared<std::promise<void>>();
  auto released = release->get_future().share();
  server.setHandler([arrived, released](const httplib::Request& request, httplib::Response& response) {
    if (request.path == "/slow") {
      arrived->set_value();
      released.wait();
      response.set_content("late", "text/plain");
    } else {
      response.set_content("fresh", "text/plain");
    }
  });
  auto slow = URLConnectionOperation::create(requestFor(server, "/slow"));
  std::promise<void> done;
  slow->whenFinished([&] { done.set_value(); });
  slow->start();
  arrivedFuture.wait();
  slow->cancel();
  done.get_future().wait();
  release->set_value();

  auto next = runToEnd(requestFor(server, "/next"));
  EXPECT_EQ(slow->error()->code, kURLErrorCancelled);
  EXPECT_FALSE(next->error());
  EXPECT_EQ(next->responseString(), "fresh");
}

}  // namespace
}  // namespace backend::http
