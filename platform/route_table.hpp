#pragma once
// This machine's routing table, as the kernel shows it in /proc, and the
// reachability flags it implies for a target.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/reachability.hpp"

namespace platform::detail {

// A numeric IPv4 or IPv6 address (IPv4 in the first 4 bytes).
struct IpAddress {
  bool v6 = false;
  std::array<std::uint8_t, 16> bytes{};

  // nullopt when `text` is not a numeric address.
  static std::optional<IpAddress> parse(std::string_view text);
  bool isLoopback() const;
  bool isZero() const;
};

struct Route {
  bool v6 = false;
  std::array<std::uint8_t, 16> destination{};
  int prefixLength = 0;
  bool viaGateway = false;
  std::string interfaceName;

  bool covers(const IpAddress& address) const;
};

class RouteTable {
 public:
  // Parses the text of /proc/net/route and /proc/net/ipv6_route. Lines that
  // are not usable routes (down, reject, unreadable) are skipped.
  static RouteTable parse(std::string_view ipv4Text, std::string_view ipv6Text);
  // The current table's text; nullopt when neither file can be read.
  static std::optional<SystemReachabilitySource::RouteText> readSystemText();

  // The most specific route to the address.
  std::optional<Route> lookup(const IpAddress& address) const;
  // A route to everywhere: the IPv4 default route, else the IPv6 one.
  std::optional<Route> defaultRoute() const;

  const std::vector<Route>& routes() const noexcept { return routes_; }

 private:
  std::vector<Route> routes_;
};

// The flags for a target by the rules of SystemReachabilitySource; nullopt
// for a target that cannot be watched.
std::optional<ReachabilityFlags> flagsFor(const ReachabilityTarget& target, const RouteTable& table);

// Whether the target is valid for a watcher at all.
bool isWatchable(const ReachabilityTarget& target);

}  // namespace platform::detail
