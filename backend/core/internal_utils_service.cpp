// The service address, reachability of the backend host and the shared
// background queue.

#include <mutex>

#include "backend/internal/internal_utils.hpp"
#include "platform/url.hpp"

namespace backend {
namespace {

struct ServerState {
  std::mutex mutex;
  std::string address = kDefaultServer;
};

ServerState& serverState() {
  static ServerState state;
  return state;
}

}  // namespace

void InternalUtils::setServer(std::string_view address) {
  auto& state = serverState();
  std::lock_guard lock(state.mutex);
  state.address = std::string(address);
}

std::string InternalUtils::serverAddress() {
  auto& state = serverState();
  std::lock_guard lock(state.mutex);
  return state.address;
}

std::string InternalUtils::baseURL() { return serverAddress() + "/" + std::to_string(kAPIVersion) + "/"; }

bool InternalUtils::isNetworkAvailable(platform::ReachabilityFlags flags) {
  using platform::ReachabilityFlag;
  if (!flags.contains(ReachabilityFlag::ConnectionRequired)) return true;
  const bool automatic =
      flags.contains(ReachabilityFlag::ConnectionOnTraffic) || flags.contains(ReachabilityFlag::ConnectionOnDemand);
  if (automatic && !flags.contains(ReachabilityFlag::InterventionRequired)) return true;
  return flags.contains(ReachabilityFlag::IsWWAN);
}

bool InternalUtils::isBackendReachable() {
  auto watcher = platform::reachabilitySource().createWatcher(
      platform::ReachabilityTarget::host(platform::hostOf(baseURL())));
  if (!watcher) return false;
  auto flags = watcher->flags();
  return flags && isNetworkAvailable(*flags);
}

platform::Executor& InternalUtils::backgroundQueue() { return platform::lowPriorityQueue(); }

}  // namespace backend
