// The desktop push client against the local services' push gateway:
// registration, delivery on the main queue, payloads queued while the device
// was away, hostile payloads, and reconnecting after refused attempts.

#include "platform/push_gateway_client.hpp"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "devserver/push_gateway.hpp"
#include "devserver/server.hpp"
#include "platform/executor.hpp"
#include "platform/json.hpp"
#include "platform/run_loop.hpp"
#include "platform/sandbox.hpp"
#include "platform/service_routing.hpp"
#include "support/scratch_directory.hpp"

namespace {

using platform::PushGatewayClient;
using platform::Value;

constexpr auto kPatience = std::chrono::seconds(20);

std::string hex(const std::vector<std::uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (auto byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

class PushGatewayClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Sandbox::setRoot(root_);
    server.start();
    platform::ServiceRouting::shared().routeTo(server.baseUrl());
  }

  void TearDown() override {
    client.reset();
    platform::RunLoop::main().drain();
    server.stop();
    platform::ServiceRouting::shared().clear();
    platform::Sandbox::setRoot({});
  }

  void startClient(std::size_t maxPayloadBytes = 64 * 1024) {
    PushGatewayClient::Options options;
    options.firstRetryDelay = std::chrono::milliseconds(10);
    options.maxRetryDelay = std::chrono::milliseconds(100);
    options.maxPayloadBytes = maxPayloadBytes;
    PushGatewayClient::Handlers handlers;
    handlers.didRegister = [this](const std::vector<std::uint8_t>& token) {
      EXPECT_TRUE(platform::isMainThread());
      tokens.push_back(hex(token));
    };
    handlers.didFailToRegister = [this](const platform::Error& error) { failures.push_back(error); };
    handlers.didReceive = [this](const Value& payload) {
      EXPECT_TRUE(platform::isMainThread());
      payloads.push_back(payload);
    };
    client = std::make_unique<PushGatewayClient>(std::move(handlers), options);
    client->start();
  }

  bool runUntil(const std::function<bool()>& done) { return platform::RunLoop::main().runUntil(done, kPatience); }
  // Until the client is connected and has reported its token for the run
  // that made `registrations` runs in all.
  bool waitForConnection(std::size_t registrations = 1) {
    return runUntil([this, registrations] { return client->isConnected() && tokens.size() >= registrations; });
  }

  void addFault(const std::string& json) {
    httplib::Client admin("127.0.0.1", server.port());
    auto answer = admin.Post("/_admin/faults", json, "application/json");
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 201) << answer->body;
  }

  devserver::Server server{devserver::Server::Options{}};
  std::unique_ptr<PushGatewayClient> client;
  std::vector<std::string> tokens;
  std::vector<platform::Error> failures;
  std::vector<Value> payloads;

 private:
  test_support::ScratchDirectory scratch_;
  const std::filesystem::path root_ = scratch_.path();
};

TEST_F(PushGatewayClientTest, RegistersOnceAndKeepsTheTokenForTheNextRun) {
  startClient();
  ASSERT_TRUE(waitForConnection());
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(tokens[0].size(), 64u);
  EXPECT_EQ(client->deviceToken(), tokens[0]);
  EXPECT_EQ(server.pushGateway().tokens(), std::vector<std::string>{tokens[0]});
  EXPECT_TRUE(failures.empty());

  // The next run brings the same token and asks for no new one.
  client.reset();
  startClient();
  ASSERT_TRUE(waitForConnection(2));
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[1], tokens[0]);
  EXPECT_EQ(server.pushGateway().tokens().size(), 1u);
}

TEST_F(PushGatewayClientTest, PayloadsSentThroughTheAdminPageArriveOnTheMainQueueInOrder) {
  startClient();
  ASSERT_TRUE(waitForConnection());
  httplib::Client admin("127.0.0.1", server.port());
  for (const char* alert : {"Første", "Andre"}) {
    const std::string body = platform::json::write(Value::dictionary(
        {{"token", tokens[0]}, {"alert", alert}, {"url", "http://www.vestavind.test/nyheter/1"}}));
    auto answer = admin.Post("/_admin/push/send", body, "application/json");
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->status, 200) << answer->body;
  }
  ASSERT_TRUE(runUntil([this] { return payloads.size() == 2; }));
  EXPECT_EQ(payloads[0]["aps"]["alert"], Value("Første"));
  EXPECT_EQ(payloads[1]["aps"]["alert"], Value("Andre"));
  EXPECT_EQ(payloads[1]["url"], Value("http://www.vestavind.test/nyheter/1"));
}

TEST_F(PushGatewayClientTest, PayloadQueuedWhileTheDeviceWasAwayArrivesOnConnecting) {
  const std::string token(64, 'a');
  ASSERT_FALSE(platform::writeFileAtomically(platform::Sandbox::library() / "PushDeviceToken", token + "\n"));
  server.pushGateway().deliver(token, R"({"aps": {"alert": "Mens du var borte"}})");
  ASSERT_EQ(server.pushGateway().pendingCount(token), 1u);

  startClient();
  ASSERT_TRUE(runUntil([this] { return payloads.size() == 1; }));
  EXPECT_EQ(tokens, std::vector<std::string>{token});
  EXPECT_EQ(payloads[0]["aps"]["alert"], Value("Mens du var borte"));
  // The gateway takes it off the queue once written, which may trail our read.
  EXPECT_TRUE(runUntil([&] { return server.pushGateway().pendingCount(token) == 0; }));
}

TEST_F(PushGatewayClientTest, HostilePayloadsAreDroppedAndTheStreamGoesOn) {
  startClient(1024);
  ASSERT_TRUE(waitForConnection());
  devserver::PushGateway& gateway = server.pushGateway();
  for (const std::string& bad : {std::string("not json"), std::string("[1, 2, 3]"), std::string("\"text\""),
                                std::string("{\"aps\": \"\xff\xfe\"}"), std::string(50, '['),
                                "{\"big\": \"" + std::string(4000, 'x') + "\"}", std::string("{\"aps\": {"),
                                std::string("\ndata: {}\n\nevent: push")}) {
    gateway.deliver(tokens[0], bad);
  }
  // Line breaks inside a payload survive the trip.
  gateway.deliver(tokens[0], "{\"aps\":\n {\"alert\": \"Etter\"}}");
  ASSERT_TRUE(runUntil([this] { return !payloads.empty(); }));
  platform::RunLoop::main().drain();
  ASSERT_EQ(payloads.size(), 1u);
  EXPECT_EQ(payloads[0]["aps"]["alert"], Value("Etter"));
  EXPECT_EQ(client->droppedPayloads(), 8u);
  EXPECT_TRUE(client->isConnected());
}

TEST_F(PushGatewayClientTest, RefusedAttemptsAreRetriedAndTheFirstFailureReportedOnce) {
  addFault(R"({"host": "push.gateway.test", "count": 3, "status": 503})");
  startClient();
  ASSERT_TRUE(waitForConnection());
  EXPECT_EQ(failures.size(), 1u);
  ASSERT_EQ(tokens.size(), 1u);

  // A stream refused later is reopened with the same token.
  client.reset();
  addFault(R"({"host": "push.gateway.test", "count": 2, "status": 503})");
  startClient();
  ASSERT_TRUE(waitForConnection());
  EXPECT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[1], tokens[0]);
  server.pushGateway().deliver(tokens[0], R"({"aps": {"alert": "Igjen"}})");
  ASSERT_TRUE(runUntil([this] { return payloads.size() == 1; }));
}

TEST_F(PushGatewayClientTest, StopEndsAnOpenStreamOrAPendingRetryAndNothingIsDeliveredAfterwards) {
  startClient();
  ASSERT_TRUE(waitForConnection());
  server.pushGateway().deliver(tokens[0], R"({"aps": {"alert": "Sen"}})");
  // The main queue has not run since: whatever the listener posted meanwhile
  // must not reach the handler once stop() returned.
  client->stop();
  platform::RunLoop::main().drain();
  EXPECT_TRUE(payloads.empty());
  EXPECT_FALSE(client->isConnected());

  // Nothing listens: stop() must not wait for a connection that never comes.
  server.stop();
  std::filesystem::remove(platform::Sandbox::library() / "PushDeviceToken");
  startClient();
  ASSERT_TRUE(runUntil([this] { return failures.size() == 1; }));
  client->stop();
}

}  // namespace
