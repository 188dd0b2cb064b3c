#include "devserver/push_gateway.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace devserver {
namespace {

using std::chrono::milliseconds;

TEST(PushGateway, HandsOutDistinctHexTokens) {
  PushGateway gateway;
  std::string first = gateway.registerDevice();
  std::string second = gateway.registerDevice();
  EXPECT_EQ(first.size(), 64u);
  EXPECT_EQ(PushGateway::normalizeToken(first), first);
  EXPECT_NE(first, second);
  EXPECT_EQ(gateway.tokens().size(), 2u);
}

TEST(PushGateway, PayloadsForAnOfflineDeviceWaitInOrderUntilAcknowledged) {
  PushGateway gateway;
  gateway.deliver("ABCDEF01", R"({"n":1})");
  gateway.deliver("abcdef01", R"({"n":2})");
  EXPECT_EQ(gateway.pendingCount("abcdef01"), 2u);

  auto first = gateway.waitForPayload("abcdef01", milliseconds(0));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->payload, R"({"n":1})");
  // Not acknowledged yet (the write to the device may still fail): it stays first.
  EXPECT_EQ(gateway.waitForPayload("abcdef01", milliseconds(0))->sequence, first->sequence);
  gateway.acknowledge("abcdef01", first->sequence);
  auto second = gateway.waitForPayload("abcdef01", milliseconds(0));
  ASSERT_TRUE(second);
  EXPECT_EQ(second->payload, R"({"n":2})");
  gateway.acknowledge("abcdef01", second->sequence);
  EXPECT_FALSE(gateway.waitForPayload("abcdef01", milliseconds(0)));

  auto deliveries = gateway.deliveries();
  ASSERT_EQ(deliveries.size(), 2u);
  EXPECT_EQ(deliveries[0].token, "abcdef01");
  EXPECT_EQ(deliveries[0].state, "taken");
  EXPECT_EQ(deliveries[1].state, "taken");
}

TEST(PushGateway, MalformedTokensAreDroppedAndRecorded) {
  PushGateway gateway;
  gateway.deliver("not-hex", "{}");
  gateway.deliver("", "{}");
  EXPECT_TRUE(gateway.tokens().empty());
  auto deliveries = gateway.deliveries();
  ASSERT_EQ(deliveries.size(), 2u);
  EXPECT_EQ(deliveries[0].state, "dropped");
  EXPECT_FALSE(gateway.waitForPayload("not-hex", milliseconds(0)));
  EXPECT_FALSE(PushGateway::normalizeToken(std::string(201, 'a')));
}

TEST(PushGateway, AFullQueueDropsItsOldestPayload) {
  PushGateway gateway;
  for (std::size_t i = 0; i <= PushGateway::kMaxPendingPerToken; ++i) gateway.deliver("aa", std::to_string(i));
  EXPECT_EQ(gateway.pendingCount("aa"), PushGateway::kMaxPendingPerToken);
  EXPECT_EQ(gateway.waitForPayload("aa", milliseconds(0))->payload, "1");
  EXPECT_EQ(gateway.deliveries().front().state, "dropped");
}

TEST(PushGateway, DeliveryWakesAWaitingDeviceAndCloseWakesTheRest) {
  PushGateway gateway;
  std::optional<PushGateway::Pending> received;
  std::thread device([&] { received = gateway.waitForPayload("beef", std::chrono::minutes(5)); });
  while (gateway.waitingCount("beef") == 0) std::this_thread::yield();
  gateway.deliver("beef", "hello");
  device.join();
  ASSERT_TRUE(received);
  EXPECT_EQ(received->payload, "hello");

  bool woke = false;
  std::thread idle([&] { woke = !gateway.waitForPayload("cafe", std::chrono::minutes(5)); });
  while (gateway.waitingCount("cafe") == 0) std::this_thread::yield();
  gateway.close();
  idle.join();
  EXPECT_TRUE(woke);
}

}  // namespace
}  // namespace devserver
