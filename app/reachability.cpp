#include "app/reachability.hpp"

#include <cstdio>

#include "platform/notification_center.hpp"

namespace app {
namespace {

using platform::ReachabilityFlag;
using platform::ReachabilityFlags;

std::shared_ptr<Reachability> create(const platform::ReachabilityTarget& target) {
  auto watcher = platform::reachabilitySource().createWatcher(target);
  if (!watcher) return nullptr;
  return std::make_shared<Reachability>(std::move(watcher));
}

}  // namespace

std::shared_ptr<Reachability> Reachability::reachabilityWithHostname(std::string_view hostname) {
  return create(platform::ReachabilityTarget::host(std::string(hostname)));
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(std::string_view address) {
  return create(platform::ReachabilityTarget::address(std::string(address)));
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection() {
  return create(platform::ReachabilityTarget::internet());
}

std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi() {
  return create(platform::ReachabilityTarget::linkLocal());
}

Reachability::Reachability(std::unique_ptr<platform::ReachabilityWatcher> watcher) : watcher_(std::move(watcher)) {}

Reachability::~Reachability() {
  stopNotifier();
  watcher_.reset();
  std::lock_guard lock(blocksMutex_);
  reachableBlock_ = nullptr;
  unreachableBlock_ = nullptr;
}

void Reachability::setReachableBlock(Block block) {
  std::lock_guard lock(blocksMutex_);
  reachableBlock_ = std::move(block);
}

void Reachability::setUnreachableBlock(Block block) {
  std::lock_guard lock(blocksMutex_);
  unreachableBlock_ = std::move(block);
}

Reachability::Block Reachability::block(bool reachable) const {
  std::lock_guard lock(blocksMutex_);
  return reachable ? reachableBlock_ : unreachableBlock_;
}

bool Reachability::isReachableWithFlags(ReachabilityFlags flags) const {
  if (!flags.contains(ReachabilityFlag::Reachable)) return false;
  if (flags.contains(ReachabilityFlag::TransientConnection) && flags.contains(ReachabilityFlag::ConnectionRequired)) {
    return false;
  }
  return !flags.contains(ReachabilityFlag::IsWWAN) || reachableOnWWAN_;
}

ReachabilityFlags Reachability::reachabilityFlags() const { return watcher_->flags().value_or(ReachabilityFlags()); }

bool Reachability::isReachable() const { return isReachableWithFlags(reachabilityFlags()); }

bool Reachability::isReachableViaWWAN() const {
  const ReachabilityFlags flags = reachabilityFlags();
  return flags.contains(ReachabilityFlag::Reachable) && flags.contains(ReachabilityFlag::IsWWAN);
}

bool Reachability::isReachableViaWiFi() const {
  const ReachabilityFlags flags = reachabilityFlags();
  return flags.contains(ReachabilityFlag::Reachable) && !flags.contains(ReachabilityFlag::IsWWAN);
}

bool Reachability::isConnectionRequired() const {
  return reachabilityFlags().contains(ReachabilityFlag::ConnectionRequired);
}

bool Reachability::isConnectionOnDemand() const {
  const ReachabilityFlags flags = reachabilityFlags();
  return flags.contains(ReachabilityFlag::ConnectionRequired) &&
         (flags.contains(ReachabilityFlag::ConnectionOnTraffic) || flags.contains(ReachabilityFlag::ConnectionOnDemand));
}

bool Reachability::isInterventionRequired() const {
  const ReachabilityFlags flags = reachabilityFlags();
  return flags.contains(ReachabilityFlag::ConnectionRequired) &&
         flags.contains(ReachabilityFlag::InterventionRequired);
}

ReachabilityStatus Reachability::currentReachabilityStatus() const {
  // One read, so the answer describes a single moment.
  const ReachabilityFlags flags = reachabilityFlags();
  if (!isReachableWithFlags(flags)) return ReachabilityStatus::None;
  if (!flags.contains(ReachabilityFlag::IsWWAN)) return ReachabilityStatus::WiFi;
  return ReachabilityStatus::Cellular;
}

std::string Reachability::currentReachabilityString() const {
  // No localisation table ships with the reader, so the keys stand as they are.
  switch (currentReachabilityStatus()) {
    case ReachabilityStatus::WiFi: return "WiFi";
    case ReachabilityStatus::Cellular: return "Cellular";
    case ReachabilityStatus::None: break;
  }
  return "No Connection";
}

std::string Reachability::flagsText(ReachabilityFlags flags) {
  auto bit = [&](ReachabilityFlag flag, char letter) { return flags.contains(flag) ? letter : '-'; };
  std::string text;
  text += bit(ReachabilityFlag::IsWWAN, 'W');
  text += bit(ReachabilityFlag::Reachable, 'R');
  text += ' ';
  text += bit(ReachabilityFlag::ConnectionRequired, 'c');
  text += bit(ReachabilityFlag::TransientConnection, 't');
  text += bit(ReachabilityFlag::InterventionRequired, 'i');
  text += bit(ReachabilityFlag::ConnectionOnTraffic, 'C');
  text += bit(ReachabilityFlag::ConnectionOnDemand, 'D');
  text += bit(ReachabilityFlag::IsLocalAddress, 'l');
  text += bit(ReachabilityFlag::IsDirect, 'd');
  return text;
}

std::string Reachability::currentReachabilityFlags() const { return flagsText(reachabilityFlags()); }

std::string Reachability::description() const {
  char text[64];
  std::snprintf(text, sizeof text, "<Reachability: %#lx>", static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this)));
  return text;
}

bool Reachability::startNotifier() {
  if (reachabilityObject_) return false;
  reachabilityObject_ = std::static_pointer_cast<Reachability>(shared_from_this());
  serialQueue_ = std::make_unique<platform::SerialQueue>();
  const bool started = watcher_->start([this](ReachabilityFlags flags) { reachabilityChanged(flags); }, *serialQueue_);
  if (!started) {
    serialQueue_.reset();
    reachabilityObject_.reset();
    return false;
  }
  return true;
}

void Reachability::stopNotifier() {
  watcher_->stop();
  serialQueue_.reset();
  // Last: this may release the monitor itself.
  std::shared_ptr<Reachability> self = std::move(reachabilityObject_);
}

void Reachability::reachabilityChanged(ReachabilityFlags flags) {
  // A block may stop the notifier and so drop the monitor's own reference.
  auto keepAlive = std::static_pointer_cast<Reachability>(shared_from_this());
  if (Block handler = block(isReachableWithFlags(flags))) handler(*this);
  platform::NotificationCenter::defaultCenter().postOnMainAsync(std::string(kReachabilityChangedNotification),
                                                                keepAlive);
}

}  // namespace app
