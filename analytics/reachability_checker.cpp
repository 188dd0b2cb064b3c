#include "reachability_checker.hpp"

#include <cstdio>

#include "diagnostics.hpp"
#include "platform/exceptions.hpp"

namespace analytics {

using platform::ReachabilityFlag;

namespace {

// Reports go to the main queue installed when each is posted: a window's
// queue may be taken down while the checker still runs.
class InstalledMainQueue final : public platform::Executor {
 public:
  void post(platform::Work work) override { platform::mainQueue().post(std::move(work)); }
  bool runsOnCurrentThread() const override { return platform::mainQueue().runsOnCurrentThread(); }
};

platform::Executor& installedMainQueue() {
  static InstalledMainQueue queue;
  return queue;
}

}  // namespace

std::unique_ptr<ReachabilityChecker> ReachabilityChecker::create(ReachabilityDelegate* delegate, std::string host) {
  if (host.empty()) {
    AN_ERROR("Invalid host specified.");
    return nullptr;
  }
  return std::make_unique<ReachabilityChecker>(delegate, std::move(host));
}

ReachabilityChecker::ReachabilityChecker(ReachabilityDelegate* delegate, std::string host)
    : delegate_(delegate), host_(std::move(host)) {}

ReachabilityChecker::~ReachabilityChecker() { stop(); }

bool ReachabilityChecker::start() {
  if (watcher_) return true;
  auto& source = source_ ? *source_ : platform::reachabilitySource();
  auto watcher = source.createWatcher(platform::ReachabilityTarget::host(host_));
  if (!watcher) return false;
  if (!watcher->start([this](platform::ReachabilityFlags flags) { reachabilityFlagsChanged(flags); },
                      installedMainQueue())) {
    return false;
  }
  watcher_ = std::move(watcher);
  return true;
}

void ReachabilityChecker::stop() {
  // Once the watcher has stopped no report can be running, so the status is
  // ours alone to reset.
  if (watcher_) watcher_->stop();
  watcher_.reset();
  status_ = ReachabilityStatus::Unknown;
}

void ReachabilityChecker::setReachabilitySource(platform::ReachabilitySource* source) {
  if (watcher_) {
    throw platform::InternalInconsistencyException(
        "Cannot change reachability API while reachability running; call stop first.");
  }
  source_ = source;
}

ReachabilityStatus ReachabilityChecker::statusForFlags(platform::ReachabilityFlags flags) {
  if (!flags.contains(ReachabilityFlag::Reachable)) return ReachabilityStatus::NotReachable;
  auto reachable = flags.contains(ReachabilityFlag::IsWWAN) ? ReachabilityStatus::ReachableViaCellular
                                                            : ReachabilityStatus::ReachableViaWiFi;
  if (!flags.contains(ReachabilityFlag::ConnectionRequired)) return reachable;
  bool automatic = flags.contains(ReachabilityFlag::ConnectionOnTraffic) || flags.contains(ReachabilityFlag::ConnectionOnDemand);
  if (!automatic || flags.contains(ReachabilityFlag::InterventionRequired)) return ReachabilityStatus::NotReachable;
  return reachable;
}

void ReachabilityChecker::reachabilityFlagsChanged(platform::ReachabilityFlags flags) {
  char text[32];
  std::snprintf(text, sizeof text, "%#08X", flags.bits());
  AN_INFO(std::string("Reachability flags update: ") + text);
  auto status = statusForFlags(flags);
  if (status == status_) return;
  status_ = status;
  if (delegate_) delegate_->reachabilityStatusChanged(*this, status);
}

}  // namespace analytics
