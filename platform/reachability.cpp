#include "platform/reachability.hpp"

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "reachability_reporter.hpp"
#include "route_table.hpp"

namespace platform {
namespace {

std::atomic<ReachabilitySource*> installedSource{nullptr};

}  // namespace

ReachabilitySource& reachabilitySource() {
  static SystemReachabilitySource systemSource;
  ReachabilitySource* installed = installedSource.load(std::memory_order_acquire);
  return installed ? *installed : systemSource;
}

void setReachabilitySource(ReachabilitySource* source) noexcept {
  installedSource.store(source, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// Manual source

namespace {

struct ManualWatch {
  ReachabilityTarget target;
  detail::ReachabilityReporter reporter;
};

}  // namespace

struct ManualReachabilitySource::State {
  std::mutex mutex;
  ReachabilityFlags defaultFlags = ReachabilityFlag::Reachable;
  std::vector<std::pair<ReachabilityTarget, ReachabilityFlags>> ownFlags;
  std::vector<std::weak_ptr<ManualWatch>> watches;
  bool readable = true;
  bool startable = true;

  // With the lock held.
  ReachabilityFlags flagsOf(const ReachabilityTarget& target) const {
    for (const auto& [known, flags] : ownFlags) {
      if (known == target) return flags;
    }
    return defaultFlags;
  }

  // With the lock held, so reports from concurrent setters keep their order.
  void reportAll() {
    std::erase_if(watches, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : watches) {
      if (auto watch = weak.lock()) watch->reporter.report(flagsOf(watch->target));
    }
  }
};

namespace {

class ManualWatcher final : public ReachabilityWatcher {
 public:
  ManualWatcher(std::shared_ptr<ManualReachabilitySource::State> source, std::shared_ptr<ManualWatch> watch)
      : source_(std::move(source)), watch_(std::move(watch)) {}
  ~ManualWatcher() override { stop(); }

  std::optional<ReachabilityFlags> flags() override {
    std::lock_guard lock(source_->mutex);
    if (!source_->readable) return std::nullopt;
    return source_->flagsOf(watch_->target);
  }

  bool start(ReachabilityCallback onChange, Executor& executor) override {
    std::lock_guard lock(source_->mutex);
    if (!source_->startable) return false;
    return watch_->reporter.start(std::move(onChange), executor, source_->flagsOf(watch_->target));
  }

  void stop() override { watch_->reporter.stop(); }

 private:
  std::shared_ptr<ManualReachabilitySource::State> source_;
  std::shared_ptr<ManualWatch> watch_;
};

}  // namespace

ManualReachabilitySource::ManualReachabilitySource() : state_(std::make_shared<State>()) {}

ManualReachabilitySource::~ManualReachabilitySource() = default;

std::unique_ptr<ReachabilityWatcher> ManualReachabilitySource::createWatcher(const ReachabilityTarget& target) {
  if (!detail::isWatchable(target)) return nullptr;
  auto watch = std::make_shared<ManualWatch>();
  watch->target = target;
  {
    std::lock_guard lock(state_->mutex);
    state_->watches.push_back(watch);
  }
  return std::make_unique<ManualWatcher>(state_, std::move(watch));
}

void ManualReachabilitySource::setFlags(const ReachabilityTarget& target, ReachabilityFlags flags) {
  std::lock_guard lock(state_->mutex);
  bool replaced = false;
  for (auto& entry : state_->ownFlags) {
    if (entry.first == target) {
      entry.second = flags;
      replaced = true;
    }
  }
  if (!replaced) state_->ownFlags.emplace_back(target, flags);
  state_->reportAll();
}

void ManualReachabilitySource::setDefaultFlags(ReachabilityFlags flags) {
  std::lock_guard lock(state_->mutex);
  state_->defaultFlags = flags;
  state_->reportAll();
}

void ManualReachabilitySource::setReadable(bool readable) {
  std::lock_guard lock(state_->mutex);
  state_->readable = readable;
}

void ManualReachabilitySource::setStartable(bool startable) {
  std::lock_guard lock(state_->mutex);
  state_->startable = startable;
}

}  // namespace platform
