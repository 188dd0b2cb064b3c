#include "platform/reachability.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/run_loop.hpp"
#include "route_table.hpp"

namespace platform {
namespace {

using detail::RouteTable;
using F = ReachabilityFlag;

// A machine with an IPv4 default route via 192.0.2.1 on eth0, the directly
// connected 192.0.2.0/24, a mobile-broadband 198.51.100.0/24, a route that is
// down and one that rejects; IPv6 with a default route and the loopback.
constexpr const char* kIpv4Table =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
    "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
    "wwan0\t006433C6\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
    "eth1\t0000000A\t00000000\t0000\t0\t0\t0\t000000FF\t0\t0\t0\n"
    "eth1\t00000B0A\t00000000\t0201\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
    "garbage line\n";
constexpr const char* kIpv6Table =
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fd000000000000000000000000000001 "
    "00000400 00000002 00000000 00000003     eth0\n"
    "00000000000000000000000000000001 80 00000000000000000000000000000000 00 00000000000000000000000000000000 "
    "00000000 00000002 00000000 80200001       lo\n"
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 "
    "ffffffff 00000001 00000000 00200200       lo\n";

ReachabilityFlags expectFlags(const ReachabilityTarget& target, const RouteTable& table) {
  auto flags = detail::flagsFor(target, table);
  EXPECT_TRUE(flags) << target.name;
  return flags.value_or(ReachabilityFlags(0xffffffff));
}

TEST(RouteTable, FlagsFollowTheMostSpecificRoute) {
  RouteTable table = RouteTable::parse(kIpv4Table, kIpv6Table);
  const ReachabilityFlags local = F::Reachable | F::IsLocalAddress | ReachabilityFlags(F::IsDirect);
  EXPECT_EQ(expectFlags(ReachabilityTarget::internet(), table), ReachabilityFlags(F::Reachable));
  EXPECT_EQ(expectFlags(ReachabilityTarget::address("192.0.2.77"), table), F::Reachable | F::IsDirect);
  EXPECT_EQ(expectFlags(ReachabilityTarget::address("203.0.113.9"), table), ReachabilityFlags(F::Reachable));
  EXPECT_EQ(expectFlags(ReachabilityTarget::address("198.51.100.7"), table), F::Reachable | F::IsDirect | F::IsWWAN);
  EXPECT_EQ(expectFlags(ReachabilityTarget::address("2001:db8::1"), table), ReachabilityFlags(F::Reachable));
  EXPECT_EQ(expectFlags(ReachabilityTarget::address("127.0.0.1"), table), local);
  EXPECT_EQ(expectFlags(ReachabilityTarget::address("::1"), table), local);
  EXPECT_EQ(expectFlags(ReachabilityTarget::host("api.backend.test"), table), local);
  EXPECT_EQ(expectFlags(ReachabilityTarget::host("localhost"), table), local);
  EXPECT_EQ(expectFlags(ReachabilityTarget::host("www.example.org"), table), ReachabilityFlags(F::Reachable));
  EXPECT_EQ(expectFlags(ReachabilityTarget::host("10.11.0.1"), table), ReachabilityFlags(F::Reachable));
  EXPECT_EQ(expectFlags(ReachabilityTarget::linkLocal(), table), ReachabilityFlags(F::Reachable));
}

TEST(RouteTable, NoRouteMeansConnectionRequiredOnly) {
  RouteTable table = RouteTable::parse(
      "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n"
      "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\n",
      "");
  EXPECT_EQ(expectFlags(ReachabilityTarget::internet(), table), ReachabilityFlags(F::ConnectionRequired));
  EXPECT_EQ(expectFlags(ReachabilityTarget::host("www.example.org"), table), ReachabilityFlags(F::ConnectionRequired));
  EXPECT_EQ(expectFlags(ReachabilityTarget::linkLocal(), table), ReachabilityFlags(F::ConnectionRequired));
  EXPECT_EQ(expectFlags(ReachabilityTarget::host("m.vestavind.test"), table).contains(F::Reachable), true);
}

TEST(RouteTable, UnwatchableTargetsAreRefused) {
  RouteTable table = RouteTable::parse("", "");
  EXPECT_EQ(detail::flagsFor(ReachabilityTarget::address("not-an-address"), table), std::nullopt);
  EXPECT_EQ(detail::flagsFor(ReachabilityTarget::host(""), table), std::nullopt);
  EXPECT_EQ(detail::flagsFor(ReachabilityTarget::host(std::string("a\0b", 3)), table), std::nullopt);
  ManualReachabilitySource manual;
  EXPECT_EQ(manual.createWatcher(ReachabilityTarget::address("999.1.1.1")), nullptr);
  SystemReachabilitySource system;
  EXPECT_EQ(system.createWatcher(ReachabilityTarget::host("")), nullptr);
}

TEST(ManualReachability, ChangesArriveInOrderOnTheGivenQueueAndRepeatsAreDropped) {
  ManualReachabilitySource source;
  RunLoop queue;
  auto target = ReachabilityTarget::host("api.backend.test");
  auto watcher = source.createWatcher(target);
  auto bystander = source.createWatcher(ReachabilityTarget::host("other.test"));
  std::vector<std::uint32_t> seen, bystanderSeen;
  ASSERT_TRUE(watcher->start([&](ReachabilityFlags f) { seen.push_back(f.bits()); }, queue));
  ASSERT_TRUE(bystander->start([&](ReachabilityFlags f) { bystanderSeen.push_back(f.bits()); }, queue));
  EXPECT_FALSE(watcher->start([](ReachabilityFlags) {}, queue));

  source.setFlags(target, ReachabilityFlags(0));
  source.setFlags(target, ReachabilityFlags(0));  // no change, no report
  source.setFlags(target, F::Reachable | F::IsWWAN);
  source.setFlags(target, ReachabilityFlags(F::ConnectionRequired));
  EXPECT_TRUE(seen.empty());  // nothing runs before the queue does
  queue.drain();
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{0, 0x40002, 0x4}));
  EXPECT_TRUE(bystanderSeen.empty());
  EXPECT_EQ(watcher->flags(), ReachabilityFlags(F::ConnectionRequired));

  source.setDefaultFlags(ReachabilityFlags(0));  // target has flags of its own
  queue.drain();
  EXPECT_EQ(seen.size(), 3u);
  EXPECT_EQ(bystanderSeen, std::vector<std::uint32_t>{0});
}

TEST(ManualReachability, StopDiscardsReportsAlreadyQueuedAndStartCanFollow) {
  ManualReachabilitySource source;
  RunLoop queue;
  auto target = ReachabilityTarget::internet();
  auto watcher = source.createWatcher(target);
  int calls = 0;
  ASSERT_TRUE(watcher->start([&](ReachabilityFlags) { ++calls; }, queue));
  source.setFlags(target, ReachabilityFlags(0));
  watcher->stop();
  queue.drain();
  EXPECT_EQ(calls, 0);

  ASSERT_TRUE(watcher->start([&](ReachabilityFlags) { ++calls; }, queue));
  source.setFlags(target, ReachabilityFlags(F::Reachable));
  queue.drain();
  EXPECT_EQ(calls, 1);
  watcher.reset();  // destroying a started watcher stops it
  source.setFlags(target, ReachabilityFlags(0));
  queue.drain();
  EXPECT_EQ(calls, 1);
}

TEST(ManualReachability, ReadAndStartFailuresCanBeInjected) {
  ManualReachabilitySource source;
  auto watcher = source.createWatcher(ReachabilityTarget::internet());
  EXPECT_EQ(watcher->flags(), ReachabilityFlags(F::Reachable));
  source.setReadable(false);
  EXPECT_EQ(watcher->flags(), std::nullopt);
  source.setStartable(false);
  RunLoop queue;
  EXPECT_FALSE(watcher->start([](ReachabilityFlags) {}, queue));
}

TEST(ManualReachability, ConcurrentChangesReachTheWatcherInTheOrderTheyWereMade) {
  ManualReachabilitySource source;
  RunLoop queue;
  auto target = ReachabilityTarget::internet();
  auto watcher = source.createWatcher(target);
  std::vector<std::uint32_t> seen;
  ASSERT_TRUE(watcher->start([&](ReachabilityFlags f) { seen.push_back(f.bits()); }, queue));
  std::vector<std::thread> setters;
  for (std::uint32_t t = 0; t < 4; ++t) {
    setters.emplace_back([&, t] {
      for (std::uint32_t i = 1; i <= 200; ++i) source.setFlags(target, ReachabilityFlags((t << 16) | i));
    });
  }
  for (auto& setter : setters) setter.join();
  queue.drain();
  // Each setter's own values stay in increasing order, and the last report
  // is the flags the source ended with.
  std::vector<std::uint32_t> lastOf(4, 0);
  for (auto bits : seen) {
    std::uint32_t t = bits >> 16, i = bits & 0xffff;
    ASSERT_GT(i, lastOf[t]);
    lastOf[t] = i;
  }
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(ReachabilityFlags(seen.back()), watcher->flags());
}

TEST(SystemReachability, LoopbackIsReachableAndAWatcherStartsAndStopsCleanly) {
  SystemReachabilitySource source(std::chrono::milliseconds(10));
  auto watcher = source.createWatcher(ReachabilityTarget::address("127.0.0.1"));
  ASSERT_NE(watcher, nullptr);
  auto flags = watcher->flags();
  ASSERT_TRUE(flags);
  EXPECT_TRUE(flags->contains(F::Reachable));
  EXPECT_TRUE(flags->contains(F::IsLocalAddress));
  RunLoop queue;
  int calls = 0;
  ASSERT_TRUE(watcher->start([&](ReachabilityFlags) { ++calls; }, queue));
  queue.runFor(std::chrono::milliseconds(50));
  EXPECT_EQ(calls, 0);  // loopback does not change
  watcher->stop();
}

TEST(SystemReachability, PollingReportsRouteChangesInOrderOnTheWatchersQueue) {
  // The default route comes and goes between polls; the change counter makes
  // every poll see a new table.
  std::mutex mutex;
  std::vector<bool> tables = {false, true, true, false, true};  // with default route?
  std::size_t reads = 0;
  auto reader = [&]() -> std::optional<SystemReachabilitySource::RouteText> {
    std::lock_guard lock(mutex);
    bool withDefault = tables[std::min(reads, tables.size() - 1)];
    ++reads;
    std::string ipv4 = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n";
    if (withDefault) ipv4 += "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\n";
    return SystemReachabilitySource::RouteText{ipv4, ""};
  };
  SystemReachabilitySource source(std::chrono::milliseconds(1), reader);
  auto watcher = source.createWatcher(ReachabilityTarget::internet());
  RunLoop queue;
  std::vector<std::uint32_t> seen;
  ASSERT_TRUE(watcher->start([&](ReachabilityFlags f) { seen.push_back(f.bits()); }, queue));
  ASSERT_TRUE(queue.runUntil([&] { return seen.size() >= 3; }, std::chrono::seconds(20)));
  watcher->stop();
  // Baseline at start: no route. Then route, (same: dropped), none, route.
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{0x2, 0x4, 0x2}));
}

TEST(SystemReachability, AWatcherMayOutliveItsSource) {
  std::unique_ptr<ReachabilityWatcher> watcher;
  RunLoop queue;
  {
    SystemReachabilitySource source(std::chrono::milliseconds(5));
    watcher = source.createWatcher(ReachabilityTarget::internet());
    ASSERT_TRUE(watcher->start([](ReachabilityFlags) {}, queue));
  }
  EXPECT_TRUE(watcher->flags().has_value());
  watcher.reset();
  queue.drain();
}

TEST(ReachabilitySource, TestsCanInstallTheirOwnSource) {
  ManualReachabilitySource manual;
  manual.setDefaultFlags(ReachabilityFlags(F::ConnectionRequired));
  setReachabilitySource(&manual);
  EXPECT_EQ(reachabilitySource().createWatcher(ReachabilityTarget::internet())->flags(),
            ReachabilityFlags(F::ConnectionRequired));
  setReachabilitySource(nullptr);
  EXPECT_NE(&reachabilitySource(), &manual);
}

}  // namespace
}  // namespace platform
