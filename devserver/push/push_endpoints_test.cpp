#include "push/push_endpoints.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "running_server.hpp"

namespace devserver {
namespace {

// Reads a device's event stream until it has seen `events` push events.
std::string readEvents(const test::RunningServer& running, const std::string& token, int events) {
  std::string received;
  auto client = running.client();
  client->Get(
      "/devices/" + token + "/events", {{"Host", kPushGatewayHost}},
      [&](const httplib::Response& response) { return response.status == 200; },
      [&](const char* data, std::size_t length) {
        received.append(data, length);
        int seen = 0;
        for (auto at = received.find("event: push"); at != std::string::npos; at = received.find("event: push", at + 1)) {
          ++seen;
        }
        return seen < events;
      });
  return received;
}

std::string newToken(const test::RunningServer& running) {
  auto result = running.post(kPushGatewayHost, "/devices", "");
  EXPECT_EQ(result->status, 201);
  return nlohmann::json::parse(result->body)["token"];
}

TEST(PushEvent, EveryPayloadLineBecomesADataLine) {
  EXPECT_EQ(pushEvent(3, "{\"a\":1}"), "id: 3\nevent: push\ndata: {\"a\":1}\n\n");
  EXPECT_EQ(pushEvent(4, "{\r\n\"a\":1\n}"), "id: 4\nevent: push\ndata: {\ndata: \"a\":1\ndata: }\n\n");
}

TEST(PushEndpoints, PayloadsSentWhileOfflineArriveWhenTheDeviceConnects) {
  test::RunningServer running;
  std::string token = newToken(running);
  running.server().pushGateway().deliver(token, R"({"aps":{"alert":"En"}})");
  running.server().pushGateway().deliver(token, R"({"aps":{"alert":"To"}})");

  std::string stream = readEvents(running, token, 2);
  EXPECT_EQ(stream.rfind("event: ready\ndata: {\"token\":\"" + token + "\"}\n\n", 0), 0u);
  auto first = stream.find("data: {\"aps\":{\"alert\":\"En\"}}");
  auto second = stream.find("data: {\"aps\":{\"alert\":\"To\"}}");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  // The server takes a payload off the queue right after writing it, which
  // may be just after the client read it.
  while (running.server().pushGateway().pendingCount(token) != 0) std::this_thread::yield();
}

TEST(PushEndpoints, AConnectedDeviceReceivesAPushSentThroughTheProviderAdmin) {
  test::RunningServer running;
  std::string token = newToken(running);
  running.get("www.vestavind.test", "/pn/addDevice/" + token);
  std::string stream;
  std::thread device([&] { stream = readEvents(running, token, 1); });
  while (running.server().pushGateway().waitingCount(token) == 0) std::this_thread::yield();

  auto sent = running.client()->Post("/_admin/push/send",
                                     R"({"all": true, "alert": "Storm", "url": "http://www.vestavind.test/x"})",
                                     "application/json");
  ASSERT_TRUE(sent);
  EXPECT_EQ(nlohmann::json::parse(sent->body)["sent"], 1);
  device.join();
  while (running.server().pushGateway().pendingCount(token) != 0) std::this_thread::yield();
  EXPECT_NE(stream.find(R"(data: {"aps":{"alert":"Storm"},"url":"http://www.vestavind.test/x"})"), std::string::npos);
  auto deliveries = running.admin("/_admin/push")["deliveries"];
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(deliveries[0]["state"], "taken");
}

TEST(PushEndpoints, DeviceStatusAndMalformedRequests) {
  test::RunningServer running;
  running.server().pushGateway().deliver("00ff", "{}");
  auto status = running.get(kPushGatewayHost, "/devices/00FF");
  EXPECT_EQ(nlohmann::json::parse(status->body), (nlohmann::json{{"token", "00ff"}, {"pending", 1}, {"connected", false}}));
  EXPECT_EQ(running.get(kPushGatewayHost, "/devices/xyz/events")->status, 400);
  EXPECT_EQ(running.get(kPushGatewayHost, "/devices")->status, 405);
  EXPECT_EQ(running.get(kPushGatewayHost, "/other")->status, 404);
  auto badSend = running.client()->Post("/_admin/push/send", R"({"token": "zz", "alert": "x"})", "application/json");
  EXPECT_EQ(badSend->status, 400);
  EXPECT_EQ(running.client()->Post("/_admin/push/send", "[1", "application/json")->status, 400);
}

TEST(PushEndpoints, ANewStreamOfTheSameDeviceEndsTheEarlierOne) {
  test::RunningServer running;
  std::string token = newToken(running);
  std::string earlier;
  std::thread first([&] { earlier = readEvents(running, token, 1); });
  while (running.server().pushGateway().waitingCount(token) == 0) std::this_thread::yield();
  std::string later;
  std::thread second([&] { later = readEvents(running, token, 1); });
  first.join();  // ended by the server once the second stream opened
  EXPECT_EQ(earlier.find("event: push"), std::string::npos);
  running.server().pushGateway().deliver(token, R"({"n":1})");
  second.join();
  EXPECT_NE(later.find(R"(data: {"n":1})"), std::string::npos);
  EXPECT_EQ(running.server().pushGateway().openStreams() <= 1, true);
}

TEST(PushEndpoints, StoppingTheServerEndsHeldStreams) {
  auto running = std::make_unique<test::RunningServer>();
  std::string token = newToken(*running);
  std::thread device([&] { readEvents(*running, token, 1); });
  while (running->server().pushGateway().waitingCount(token) == 0) std::this_thread::yield();
  running->server().stop();
  device.join();
  SUCCEED();
}

}  // namespace
}  // namespace devserver
