#include "route_table.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <sstream>

#include "platform/sandbox.hpp"

namespace platform::detail {
namespace {

constexpr unsigned kRouteUp = 0x0001;
constexpr unsigned kRouteGateway = 0x0002;
constexpr unsigned kRouteReject = 0x0200;

bool parseHex(const std::string& text, unsigned long long& value) {
  if (text.empty() || text.size() > 16) return false;
  value = 0;
  for (char c : text) {
    int digit = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : -1;
    if (digit < 0) return false;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return true;
}

bool parseHexBytes(const std::string& text, std::array<std::uint8_t, 16>& bytes) {
  if (text.size() != 32) return false;
  for (std::size_t i = 0; i < 16; ++i) {
    unsigned long long byte = 0;
    if (!parseHex(text.substr(i * 2, 2), byte)) return false;
    bytes[i] = static_cast<std::uint8_t>(byte);
  }
  return true;
}

// "Iface Destination Gateway Flags RefCnt Use Metric Mask ..." with the
// addresses as the kernel's in-memory 32-bit words in hex.
std::optional<Route> parseIpv4Line(const std::string& line) {
  std::istringstream fields(line);
  std::string iface, destination, gateway, flags, refCount, use, metric, mask;
  if (!(fields >> iface >> destination >> gateway >> flags >> refCount >> use >> metric >> mask)) return std::nullopt;
  unsigned long long destinationWord, gatewayWord, flagWord, maskWord;
  if (!parseHex(destination, destinationWord) || !parseHex(gateway, gatewayWord) || !parseHex(flags, flagWord) ||
      !parseHex(mask, maskWord)) {
    return std::nullopt;
  }
  if (!(flagWord & kRouteUp) || (flagWord & kRouteReject)) return std::nullopt;
  Route route;
  auto destination32 = static_cast<std::uint32_t>(destinationWord);
  std::memcpy(route.destination.data(), &destination32, 4);
  route.prefixLength = std::popcount(static_cast<std::uint32_t>(maskWord));
  route.viaGateway = (flagWord & kRouteGateway) || gatewayWord != 0;
  route.interfaceName = iface;
  return route;
}

// "dest prefix src srcprefix nexthop metric refcnt use flags iface".
std::optional<Route> parseIpv6Line(const std::string& line) {
  std::istringstream fields(line);
  std::string destination, prefix, source, sourcePrefix, nextHop, metric, refCount, use, flags, iface;
  if (!(fields >> destination >> prefix >> source >> sourcePrefix >> nextHop >> metric >> refCount >> use >> flags >>
        iface)) {
    return std::nullopt;
  }
  Route route;
  route.v6 = true;
  std::array<std::uint8_t, 16> hop{};
  unsigned long long prefixLength, flagWord;
  if (!parseHexBytes(destination, route.destination) || !parseHexBytes(nextHop, hop) ||
      !parseHex(prefix, prefixLength) || !parseHex(flags, flagWord) || prefixLength > 128) {
    return std::nullopt;
  }
  if (!(flagWord & kRouteUp) || (flagWord & kRouteReject)) return std::nullopt;
  route.prefixLength = static_cast<int>(prefixLength);
  route.viaGateway = (flagWord & kRouteGateway) || std::any_of(hop.begin(), hop.end(), [](auto b) { return b != 0; });
  route.interfaceName = iface;
  return route;
}

template <class ParseLine>
void parseLines(std::string_view text, bool skipHeader, std::vector<Route>& routes, ParseLine parseLine) {
  std::istringstream lines{std::string(text)};
  std::string line;
  if (skipHeader) std::getline(lines, line);
  while (std::getline(lines, line)) {
    if (auto route = parseLine(line)) routes.push_back(std::move(*route));
  }
}

bool isLocalHostName(std::string_view name) {
  auto endsWith = [&](std::string_view suffix) {
    return name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix;
  };
  std::string_view bare = name;
  if (!bare.empty() && bare.back() == '.') bare.remove_suffix(1);
  return bare == "localhost" || bare == "test" || endsWith(".test") || endsWith(".test.") ||
         endsWith(".localhost") || endsWith(".localhost.");
}

ReachabilityFlags flagsForRoute(const std::optional<Route>& route) {
  if (!route) return ReachabilityFlag::ConnectionRequired;
  ReachabilityFlags flags = ReachabilityFlag::Reachable;
  if (!route->viaGateway) flags = flags | ReachabilityFlag::IsDirect;
  if (route->interfaceName.starts_with("wwan")) flags = flags | ReachabilityFlag::IsWWAN;
  return flags;
}

constexpr ReachabilityFlags kLocalFlags =
    ReachabilityFlag::Reachable | ReachabilityFlag::IsLocalAddress | ReachabilityFlags(ReachabilityFlag::IsDirect);

}  // namespace

std::optional<IpAddress> IpAddress::parse(std::string_view text) {
  std::string copy(text);
  IpAddress address;
  if (::inet_pton(AF_INET, copy.c_str(), address.bytes.data()) == 1) return address;
  address.v6 = true;
  if (::inet_pton(AF_INET6, copy.c_str(), address.bytes.data()) == 1) return address;
  return std::nullopt;
}

bool IpAddress::isLoopback() const {
  if (!v6) return bytes[0] == 127;
  static constexpr std::array<std::uint8_t, 16> kLoopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return bytes == kLoopback6;
}

bool IpAddress::isZero() const {
  return std::all_of(bytes.begin(), bytes.end(), [](auto b) { return b == 0; });
}

bool Route::covers(const IpAddress& address) const {
  if (address.v6 != v6) return false;
  int whole = prefixLength / 8;
  if (!std::equal(destination.begin(), destination.begin() + whole, address.bytes.begin())) return false;
  int rest = prefixLength % 8;
  if (rest == 0) return true;
  auto mask = static_cast<std::uint8_t>(0xff << (8 - rest));
  return (destination[whole] & mask) == (address.bytes[whole] & mask);
}

RouteTable RouteTable::parse(std::string_view ipv4Text, std::string_view ipv6Text) {
  RouteTable table;
  parseLines(ipv4Text, true, table.routes_, parseIpv4Line);
  parseLines(ipv6Text, false, table.routes_, parseIpv6Line);
  return table;
}

std::optional<SystemReachabilitySource::RouteText> RouteTable::readSystemText() {
  auto ipv4 = readFile("/proc/net/route");
  auto ipv6 = readFile("/proc/net/ipv6_route");
  if (!ipv4 && !ipv6) return std::nullopt;
  return SystemReachabilitySource::RouteText{ipv4.value_or(""), ipv6.value_or("")};
}

std::optional<Route> RouteTable::lookup(const IpAddress& address) const {
  const Route* best = nullptr;
  for (const auto& route : routes_) {
    if (route.covers(address) && (!best || route.prefixLength > best->prefixLength)) best = &route;
  }
  return best ? std::optional<Route>(*best) : std::nullopt;
}

std::optional<Route> RouteTable::defaultRoute() const {
  const Route* found = nullptr;
  for (const auto& route : routes_) {
    if (route.prefixLength != 0) continue;
    if (!route.v6) return route;
    if (!found) found = &route;
  }
  return found ? std::optional<Route>(*found) : std::nullopt;
}

bool isWatchable(const ReachabilityTarget& target) {
  if (target.name.empty() || target.name.find('\0') != std::string::npos) return false;
  return target.kind == ReachabilityTarget::Kind::Host || IpAddress::parse(target.name).has_value();
}

std::optional<ReachabilityFlags> flagsFor(const ReachabilityTarget& target, const RouteTable& table) {
  if (!isWatchable(target)) return std::nullopt;
  std::optional<IpAddress> address = IpAddress::parse(target.name);
  if (!address) {
    // A name: local stand-ins are always there; others are not resolved
    // (that would send a query), so they follow the default route.
    if (isLocalHostName(target.name)) return kLocalFlags;
    return flagsForRoute(table.defaultRoute());
  }
  if (address->isLoopback()) return kLocalFlags;
  if (address->isZero()) return flagsForRoute(table.defaultRoute());
  return flagsForRoute(table.lookup(*address));
}

}  // namespace platform::detail
