#pragma once
// Network reachability: whether a route to a host or address exists, as the
// platform's 32-bit flag set, and notice when that changes.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/executor.hpp"

namespace platform {

enum class ReachabilityFlag : std::uint32_t {
  TransientConnection = 1u << 0,
  Reachable = 1u << 1,
  ConnectionRequired = 1u << 2,
  ConnectionOnTraffic = 1u << 3,
  InterventionRequired = 1u << 4,
  ConnectionOnDemand = 1u << 5,
  IsLocalAddress = 1u << 16,
  IsDirect = 1u << 17,
  IsWWAN = 1u << 18,
};

class ReachabilityFlags {
 public:
  constexpr ReachabilityFlags() noexcept = default;
  constexpr explicit ReachabilityFlags(std::uint32_t bits) noexcept : bits_(bits) {}
  constexpr ReachabilityFlags(ReachabilityFlag flag) noexcept : bits_(static_cast<std::uint32_t>(flag)) {}

  constexpr std::uint32_t bits() const noexcept { return bits_; }
  constexpr bool contains(ReachabilityFlag flag) const noexcept {
    return (bits_ & static_cast<std::uint32_t>(flag)) != 0;
  }
  constexpr ReachabilityFlags operator|(ReachabilityFlags other) const noexcept {
    return ReachabilityFlags(bits_ | other.bits_);
  }
  constexpr bool operator==(const ReachabilityFlags&) const noexcept = default;

 private:
  std::uint32_t bits_ = 0;
};

constexpr ReachabilityFlags operator|(ReachabilityFlag a, ReachabilityFlag b) noexcept {
  return ReachabilityFlags(a) | ReachabilityFlags(b);
}

// What a watcher looks at: a host name or a numeric IPv4/IPv6 address.
struct ReachabilityTarget {
  enum class Kind { Host, Address };
  Kind kind = Kind::Address;
  std::string name;

  static ReachabilityTarget host(std::string name) { return {Kind::Host, std::move(name)}; }
  static ReachabilityTarget address(std::string numeric) { return {Kind::Address, std::move(numeric)}; }
  // The zero address: the general internet route.
  static ReachabilityTarget internet() { return address("0.0.0.0"); }
  // 169.254.0.0: the link-local network.
  static ReachabilityTarget linkLocal() { return address("169.254.0.0"); }

  bool operator==(const ReachabilityTarget&) const = default;
};

using ReachabilityCallback = std::function<void(ReachabilityFlags)>;

// Watches one target. Destroying a watcher stops it.
class ReachabilityWatcher {
 public:
  virtual ~ReachabilityWatcher() = default;

  // The current flags, read synchronously on the calling thread; nullopt
  // when they cannot be read.
  virtual std::optional<ReachabilityFlags> flags() = 0;

  // Starts reporting changes: `onChange` gets each flags value that differs
  // from the one before it (the first against the flags at start), on
  // `executor`, which should be serial so the reports keep their order.
  // Answers false when already started or the watch cannot be set up.
  virtual bool start(ReachabilityCallback onChange, Executor& executor) = 0;
  // The same on the main queue.
  bool start(ReachabilityCallback onChange) { return start(std::move(onChange), mainQueue()); }

  // Ends the reports: once this returns no callback runs, except one that is
  // itself calling stop(). start() may be called again afterwards.
  virtual void stop() = 0;
};

class ReachabilitySource {
 public:
  virtual ~ReachabilitySource() = default;
  // A watcher for the target; nullptr when the target cannot be watched (an
  // empty name or an address that is not numeric).
  virtual std::unique_ptr<ReachabilityWatcher> createWatcher(const ReachabilityTarget& target) = 0;
};

// The source in use: the system's unless a test installed another.
ReachabilitySource& reachabilitySource();
// Installs a source (nullptr restores the system's); it must outlive its use.
void setReachabilitySource(ReachabilitySource* source) noexcept;

// Flags from this machine's routing table (/proc/net/route and
// /proc/net/ipv6_route), without sending anything on the network:
// - loopback addresses, "localhost" and names under ".test" or ".localhost"
//   (the local stand-ins for the hosted services): Reachable | IsLocalAddress | IsDirect;
// - other host names and the zero address: the default route's flags, since
//   names are not resolved;
// - other addresses: the most specific route to them;
// - a route gives Reachable, plus IsDirect when it has no gateway and IsWWAN
//   when its interface is a mobile-broadband one ("wwan*");
// - no route gives ConnectionRequired alone, so that neither the reachable
//   test nor the network-available test takes it for a usable path.
// Watchers are polled on one thread the source owns, started with the first
// watch and joined when the source is destroyed.
class SystemReachabilitySource final : public ReachabilitySource {
 public:
  // The kernel's routing tables as text: /proc/net/route and
  // /proc/net/ipv6_route. nullopt when neither can be read.
  struct RouteText {
    std::string ipv4;
    std::string ipv6;
  };
  using RouteReader = std::function<std::optional<RouteText>()>;

  // Polls the routing table every `pollInterval`. `readRoutes` replaces the
  // reading of /proc (tests); it is called on the polling thread and on the
  // threads that ask for flags.
  explicit SystemReachabilitySource(Duration pollInterval = std::chrono::seconds(2), RouteReader readRoutes = {});
  ~SystemReachabilitySource() override;

  std::unique_ptr<ReachabilityWatcher> createWatcher(const ReachabilityTarget& target) override;

  struct State;  // shared with the watchers it creates

 private:
  std::shared_ptr<State> state_;
};

// A source whose flags a test sets by hand. Every target starts with the
// default flags (Reachable unless changed).
class ManualReachabilitySource final : public ReachabilitySource {
 public:
  ManualReachabilitySource();
  ~ManualReachabilitySource() override;

  std::unique_ptr<ReachabilityWatcher> createWatcher(const ReachabilityTarget& target) override;

  // Sets one target's flags and reports the change to its started watchers.
  void setFlags(const ReachabilityTarget& target, ReachabilityFlags flags);
  // Sets the flags of every target that has none of its own, reporting to
  // their watchers.
  void setDefaultFlags(ReachabilityFlags flags);
  // While false, flags() answers nullopt.
  void setReadable(bool readable);
  // While false, start() fails.
  void setStartable(bool startable);

  struct State;  // shared with the watchers it creates

 private:
  std::shared_ptr<State> state_;
};

}  // namespace platform
