#include "platform/plain_http.hpp"

#include <gtest/gtest.h>

#include "platform/service_routing.hpp"
#include "support/loopback_server.hpp"

namespace platform {
namespace {

class PlainHttpTest : public ::testing::Test {
 protected:
  void TearDown() override { ServiceRouting::shared().clear(); }
  test_support::LoopbackServer server;
};

TEST_F(PlainHttpTest, RoutedRequestCarriesItsHostAndOnlyHeadersThatCannotSplitIt) {
  server.page("/menu/", "{}", "application/json");
  ServiceRouting::shared().routeTo(server.url());
  PlainHttpRequest request;
  request.url = "http://www.vestavind.test/menu/";
  request.headers = {{"Host", "evil.example"}, {"X-Split", "a\r\nX-Injected: 1"}, {"", "nameless"},
                     {"X-Kept", "yes"}};
  const PlainHttpAnswer answer = plainHttpExchange(request);
  ASSERT_TRUE(answer.ok()) << answer.failureText;
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(answer.body, "{}");

  ASSERT_EQ(server.requestCount(), 1u);
  const auto sent = server.requests().front();
  EXPECT_EQ(sent.header("Host"), "www.vestavind.test");
  EXPECT_FALSE(sent.hasHeader("X-Split"));
  EXPECT_FALSE(sent.hasHeader("X-Injected"));
  EXPECT_EQ(sent.header("X-Kept"), "yes");
}

TEST_F(PlainHttpTest, KeepsOnlyTheCappedPartOfALongBodyAndSaysSo) {
  server.page("/long", std::string(1000, 'x'), "text/plain");
  PlainHttpRequest request;
  request.url = server.url("/long");
  request.maxBodyBytes = 100;
  const PlainHttpAnswer capped = plainHttpExchange(request);
  ASSERT_TRUE(capped.ok()) << capped.failureText;
  EXPECT_TRUE(capped.truncated);
  EXPECT_EQ(capped.body, std::string(100, 'x'));

  request.maxBodyBytes = 1000;
  const PlainHttpAnswer whole = plainHttpExchange(request);
  EXPECT_FALSE(whole.truncated);
  EXPECT_EQ(whole.body.size(), 1000u);
}

TEST_F(PlainHttpTest, HandsBackARedirectWithoutFollowingIt) {
  server.setHandler([](const httplib::Request&, httplib::Response& response) {
    response.status = 302;
    response.set_header("Location", "../elsewhere?x=1");
  });
  PlainHttpRequest request;
  request.url = server.url("/a/b");
  const PlainHttpAnswer answer = plainHttpExchange(request);
  ASSERT_TRUE(answer.ok()) << answer.failureText;
  EXPECT_EQ(answer.status, 302);
  EXPECT_EQ(answer.location, "../elsewhere?x=1");
  EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(PlainHttpTest, NamesWhyThereIsNoAnswer) {
  PlainHttpRequest request;
  request.url = "file:///etc/passwd";
  EXPECT_EQ(plainHttpExchange(request).failure, PlainHttpFailure::UnsupportedURL);

  request.url = server.url("/");
  request.cancelled = [] { return true; };
  EXPECT_EQ(plainHttpExchange(request).failure, PlainHttpFailure::Cancelled);

  int closedPort = 0;
  {
    test_support::LoopbackServer gone;
    closedPort = gone.port();
  }
  request.cancelled = nullptr;
  request.url = "http://127.0.0.1:" + std::to_string(closedPort) + "/";
  const PlainHttpAnswer refused = plainHttpExchange(request);
  EXPECT_EQ(refused.failure, PlainHttpFailure::CannotConnect);
  EXPECT_FALSE(refused.failureText.empty());
}

}  // namespace
}  // namespace platform
