#pragma once
// Whether one network target (a host, an address, the general internet route
// or the link-local network) can be reached, and notice when that changes.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/reachability.hpp"
#include "platform/serial_queue.hpp"
#include "platform/value.hpp"

namespace app {

enum class ReachabilityStatus { None = 0, Cellular = 1, WiFi = 2 };

// Posted on the main queue after each change while notifying; its object is
// the monitor.
inline constexpr std::string_view kReachabilityChangedNotification = "kReachabilityChangedNotification";

class Reachability : public platform::SharedObject {
 public:
  using Block = std::function<void(Reachability&)>;

  // Each answers nullptr when the platform source cannot watch the target.
  static std::shared_ptr<Reachability> reachabilityWithHostname(std::string_view hostname);
  static std::shared_ptr<Reachability> reachabilityWithHostName(std::string_view hostname) {
    return reachabilityWithHostname(hostname);
  }
  // A numeric IPv4 or IPv6 address.
  static std::shared_ptr<Reachability> reachabilityWithAddress(std::string_view address);
  // The zero IPv4 address: the general internet route.
  static std::shared_ptr<Reachability> reachabilityForInternetConnection();
  // 169.254.0.0, the link-local network.
  static std::shared_ptr<Reachability> reachabilityForLocalWiFi();

  // Takes ownership of a watcher (must not be null). Create monitors through
  // make_shared (the factories do), since notifying needs shared_from_this.
  explicit Reachability(std::unique_ptr<platform::ReachabilityWatcher> watcher);
  // Stops notifying, releases the watcher and drops both blocks.
  ~Reachability() override;

  // Whether a cellular route counts as reachable; true after creation.
  bool reachableOnWWAN() const noexcept { return reachableOnWWAN_; }
  void setReachableOnWWAN(bool value) noexcept { reachableOnWWAN_ = value; }

  // Called while notifying, on the monitor's private serial queue (not the
  // main thread), on a change to reachable / unreachable. Thread-safe.
  void setReachableBlock(Block block);
  void setUnreachableBlock(Block block);

  // Reachable bit set, not both transient-connection and connection-required,
  // and a cellular route only when reachableOnWWAN.
  bool isReachableWithFlags(platform::ReachabilityFlags flags) const;

  // Each reads the current flags synchronously; unreadable flags count as 0.
  bool isReachable() const;
  bool isReachableViaWWAN() const;
  bool isReachableViaWiFi() const;
  bool isConnectionRequired() const;
  bool connectionRequired() const { return isConnectionRequired(); }
  bool isConnectionOnDemand() const;
  bool isInterventionRequired() const;
  ReachabilityStatus currentReachabilityStatus() const;
  platform::ReachabilityFlags reachabilityFlags() const;
  // "WiFi", "Cellular" or "No Connection".
  std::string currentReachabilityString() const;
  // Ten characters "WR ctiCDld", each letter replaced by "-" when its bit is clear.
  std::string currentReachabilityFlags() const;
  // "<Reachability: 0x...>".
  std::string description() const override;

  // Starts reporting changes (blocks, then the notification). The monitor
  // keeps itself alive until stopNotifier(). False when it cannot start
  // (also when already notifying).
  bool startNotifier();
  // Ends the reports; once it returns no block runs (except a block that is
  // itself calling stopNotifier). May release the monitor's last reference.
  void stopNotifier();

  static std::string flagsText(platform::ReachabilityFlags flags);

 private:
  void reachabilityChanged(platform::ReachabilityFlags flags);
  Block block(bool reachable) const;

  std::atomic<bool> reachableOnWWAN_{true};
  std::unique_ptr<platform::ReachabilityWatcher> watcher_;
  std::unique_ptr<platform::SerialQueue> serialQueue_;
  mutable std::mutex blocksMutex_;
  Block reachableBlock_;
  Block unreachableBlock_;
  std::shared_ptr<Reachability> reachabilityObject_;
};

}  // namespace app
