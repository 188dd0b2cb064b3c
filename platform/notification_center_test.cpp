#include "platform/notification_center.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/run_loop.hpp"
#include "support/eventually.hpp"

namespace platform {
namespace {

struct Sender : SharedObject {};

TEST(NotificationCenter, DeliversByNameInRegistrationOrderWithSenderAndUserInfo) {
  NotificationCenter center;
  auto sender = std::make_shared<Sender>();
  std::vector<std::string> seen;
  center.addObserver("changed", [&](const Notification& n) {
    seen.push_back("first:" + n.userInfo["k"].asString());
    EXPECT_EQ(n.objectAs<Sender>(), sender);
  });
  center.addObserver("changed", [&](const Notification&) { seen.push_back("second"); });
  center.addObserver("other", [&](const Notification&) { seen.push_back("other"); });
  center.post("changed", sender, Value::dictionary({{"k", "v"}}));
  EXPECT_EQ(seen, (std::vector<std::string>{"first:v", "second"}));
}

TEST(NotificationCenter, SenderFilterIgnoresOtherSenders) {
  NotificationCenter center;
  auto mine = std::make_shared<Sender>();
  auto theirs = std::make_shared<Sender>();
  int calls = 0;
  center.addObserver("changed", [&](const Notification&) { ++calls; }, mine.get());
  center.post("changed", theirs);
  center.post("changed");
  center.post("changed", mine);
  EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, ObserverRemovedDuringDeliveryIsNotCalledAgain) {
  NotificationCenter center;
  ObserverToken second;
  std::vector<std::string> seen;
  ObserverToken first = center.addObserver("n", [&](const Notification&) {
    seen.push_back("first");
    EXPECT_TRUE(center.removeObserver(second));
    EXPECT_TRUE(center.removeObserver(first));  // itself: must not wait for itself
  });
  second = center.addObserver("n", [&](const Notification&) { seen.push_back("second"); });
  center.post("n");
  center.post("n");
  EXPECT_EQ(seen, std::vector<std::string>{"first"});
  EXPECT_FALSE(center.removeObserver(first));
}

TEST(NotificationCenter, ObserverAddedDuringDeliveryWaitsForTheNextPost) {
  NotificationCenter center;
  int lateCalls = 0;
  bool added = false;
  center.addObserver("n", [&](const Notification&) {
    if (!added) center.addObserver("n", [&](const Notification&) { ++lateCalls; });
    added = true;
  });
  center.post("n");
  EXPECT_EQ(lateCalls, 0);
  center.post("n");
  EXPECT_EQ(lateCalls, 1);
}

TEST(NotificationCenter, RemovalWaitsForACallRunningOnAnotherThread) {
  NotificationCenter center;
  std::atomic<bool> entered{false}, removing{false}, finished{false};
  // Touched by the posting thread only.
  bool probing = false;
  int probeCalls = 0;
  ObserverToken token = center.addObserver("n", [&](const Notification&) {
    if (probing) {
      ++probeCalls;
      return;
    }
    entered = true;
    while (!removing) std::this_thread::yield();
    // Ends only once the removal has taken the registration out (a post from
    // here no longer reaches it): a removal that did not wait returns then.
    probing = true;
    test_support::eventually([&] {
      const int before = probeCalls;
      center.post("n");
      return probeCalls == before;
    });
    probing = false;
    finished = true;
  });
  std::thread poster([&] { center.post("n"); });
  while (!entered) std::this_thread::yield();
  removing = true;
  EXPECT_TRUE(center.removeObserver(token));
  EXPECT_TRUE(finished);
  poster.join();
}

TEST(NotificationCenter, ConcurrentPostsAndRegistrationsAreSafe) {
  NotificationCenter center;
  std::atomic<int> delivered{0};
  center.addObserver("n", [&](const Notification&) { delivered.fetch_add(1); });
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    while (!stop) {
      ObserverToken token = center.addObserver("n", [](const Notification&) {});
      center.removeObserver(token);
    }
  });
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&] {
      for (int i = 0; i < 500; ++i) center.post("n", nullptr, Value(i));
    });
  }
  for (auto& poster : posters) poster.join();
  stop = true;
  churn.join();
  EXPECT_EQ(delivered.load(), 2000);
}

TEST(NotificationCenter, PostOnMainAsyncDeliversLaterOnTheMainQueue) {
  NotificationCenter center;
  std::vector<int> order;
  center.addObserver("n", [&](const Notification& n) {
    EXPECT_TRUE(isMainThread());
    order.push_back(static_cast<int>(n.userInfo.longLongValue()));
  });
  std::thread([&] {
    center.postOnMainAsync("n", nullptr, Value(1));
    center.postOnMainAsync("n", nullptr, Value(2));
  }).join();
  EXPECT_TRUE(order.empty());
  RunLoop::main().runUntil([&] { return order.size() == 2; }, std::chrono::seconds(10));
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(NotificationCenter, ObserverWithAQueueIsCalledThereAndNotAfterRemoval) {
  NotificationCenter center;
  RunLoop queue;
  int calls = 0;
  ObserverToken token = center.addObserver("n", [&](const Notification&) { ++calls; }, nullptr, &queue);
  center.post("n");
  EXPECT_EQ(calls, 0);
  queue.drain();
  EXPECT_EQ(calls, 1);
  center.post("n");
  center.removeObserver(token);
  queue.drain();
  EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, ScopedObserverEndsItsRegistration) {
  NotificationCenter center;
  int calls = 0;
  {
    ScopedObserver scoped(center, center.addObserver("n", [&](const Notification&) { ++calls; }));
    center.post("n");
  }
  center.post("n");
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace platform
