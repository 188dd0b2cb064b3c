#include "devserver/push_gateway.hpp"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace devserver {
namespace {

using std::chrono::milliseconds;

TEST(PushGateway, HandsOutDistinctHexTokens) {
  PushGateway gateway;
  std::string first = gateway.registerDevice().value_or("");
  std::string second = gateway.registerDevice().value_or("");
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
  // Handed out, it goes to no second reader; given back (a failed write), it is first again.
  EXPECT_EQ(gateway.waitForPayload("abcdef01", milliseconds(0))->sequence, first->sequence + 1);
  gateway.release("abcdef01", first->sequence);
  gateway.release("abcdef01", first->sequence + 1);
  EXPECT_EQ(gateway.waitForPayload("abcdef01", milliseconds(0))->sequence, first->sequence);
  gateway.acknowledge("abcdef01", first->sequence);
  gateway.release("abcdef01", first->sequence + 1);
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

TEST(PushGateway, TwoReadersOfOneTokenNeverGetTheSamePayload) {
  PushGateway gateway;
  for (int i = 0; i < 200; ++i) gateway.deliver("d00d", std::to_string(i));
  std::vector<std::uint64_t> taken[2];
  auto reader = [&](std::vector<std::uint64_t>& mine) {
    while (auto pending = gateway.waitForPayload("d00d", milliseconds(0))) {
      mine.push_back(pending->sequence);
      gateway.acknowledge("d00d", pending->sequence);
    }
  };
  std::thread first(reader, std::ref(taken[0]));
  std::thread second(reader, std::ref(taken[1]));
  first.join();
  second.join();
  std::set<std::uint64_t> all(taken[0].begin(), taken[0].end());
  all.insert(taken[1].begin(), taken[1].end());
  EXPECT_EQ(all.size(), taken[0].size() + taken[1].size());
  EXPECT_EQ(all.size(), PushGateway::kMaxPendingPerToken);
}

TEST(PushGateway, ANewStreamReplacesTheOldAndStreamsAreCapped) {
  PushGateway gateway(2);
  auto first = gateway.openStream("aa");
  ASSERT_TRUE(first);
  std::optional<PushGateway::Pending> waited;
  std::thread oldStream([&] { waited = gateway.waitForPayload("aa", std::chrono::minutes(5)); });
  while (gateway.waitingCount("aa") == 0) std::this_thread::yield();
  auto second = gateway.openStream("AA");
  ASSERT_TRUE(second);
  oldStream.join();  // woken by the replacement, with nothing
  EXPECT_FALSE(waited);
  EXPECT_FALSE(gateway.isLiveStream("aa", *first));
  EXPECT_TRUE(gateway.isLiveStream("aa", *second));
  gateway.closeStream("aa", *first);  // the replaced stream ending frees nothing
  EXPECT_EQ(gateway.openStreams(), 1u);

  EXPECT_TRUE(gateway.openStream("bb"));
  EXPECT_FALSE(gateway.openStream("cc"));
  gateway.closeStream("aa", *second);
  EXPECT_TRUE(gateway.openStream("cc"));
}

TEST(PushGateway, QueuesAndHistoryStayBoundedInCountAndBytes) {
  PushGateway gateway;
  std::string big(1024 * 1024, 'x');
  for (int i = 0; i < 80; ++i) gateway.deliver("b1", big);
  std::size_t pendingBytes = gateway.pendingCount("b1") * big.size();
  EXPECT_LE(pendingBytes, PushGateway::kMaxPendingBytes);
  std::size_t historyBytes = 0;
  for (const auto& delivery : gateway.deliveries()) historyBytes += delivery.payload.size();
  EXPECT_LE(historyBytes, PushGateway::kMaxHistoryBytes);
  EXPECT_EQ(gateway.deliveries().back().state, "queued");

  for (std::size_t i = 0; i < PushGateway::kMaxPendingTotal / PushGateway::kMaxPendingPerToken + 5; ++i) {
    for (std::size_t n = 0; n < PushGateway::kMaxPendingPerToken; ++n) gateway.deliver("c" + std::to_string(i), "{}");
  }
  std::size_t total = 0;
  for (const auto& token : gateway.tokens()) total += gateway.pendingCount(token);
  EXPECT_EQ(total, PushGateway::kMaxPendingTotal);
}

}  // namespace
}  // namespace devserver
