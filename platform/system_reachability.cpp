#include <mutex>
#include <vector>

#include "platform/event_loop_thread.hpp"
#include "platform/reachability.hpp"
#include "reachability_reporter.hpp"
#include "route_table.hpp"

namespace platform {
namespace {

struct SystemWatch {
  ReachabilityTarget target;
  detail::ReachabilityReporter reporter;
};

}  // namespace

struct SystemReachabilitySource::State {
  Duration pollInterval;
  RouteReader readRoutes;
  std::mutex mutex;
  std::vector<std::weak_ptr<SystemWatch>> watches;
  std::unique_ptr<EventLoopThread> thread;
  Timer timer;
  bool closed = false;  // the source is gone: watchers left over no longer poll

  std::optional<detail::RouteTable> readTable() const {
    std::optional<RouteText> text = readRoutes();
    if (!text) return std::nullopt;
    return detail::RouteTable::parse(text->ipv4, text->ipv6);
  }

  std::optional<ReachabilityFlags> readFlags(const ReachabilityTarget& target) const {
    std::optional<detail::RouteTable> table = readTable();
    if (!table) return std::nullopt;
    return detail::flagsFor(target, *table);
  }

  // On the poll thread: one table read for every watch.
  void poll() {
    std::vector<std::shared_ptr<SystemWatch>> live;
    {
      std::lock_guard lock(mutex);
      std::erase_if(watches, [](const auto& weak) { return weak.expired(); });
      for (const auto& weak : watches) {
        if (auto watch = weak.lock(); watch && watch->reporter.isStarted()) live.push_back(std::move(watch));
      }
    }
    if (live.empty()) return;
    std::optional<detail::RouteTable> table = readTable();
    for (const auto& watch : live) {
      watch->reporter.report(table ? detail::flagsFor(watch->target, *table) : std::nullopt);
    }
  }

  void ensurePolling() {
    std::lock_guard lock(mutex);
    if (thread || closed) return;
    thread = std::make_unique<EventLoopThread>("vv-reachability");
    // The thread is joined before this state can go away (see the source's
    // destructor), so the raw pointer stays valid for every tick.
    timer = thread->scheduleTimer(pollInterval, true, [this] { poll(); });
  }
};

namespace {

class SystemWatcher final : public ReachabilityWatcher {
 public:
  SystemWatcher(std::shared_ptr<SystemReachabilitySource::State> source, std::shared_ptr<SystemWatch> watch)
      : source_(std::move(source)), watch_(std::move(watch)) {}
  ~SystemWatcher() override { stop(); }

  std::optional<ReachabilityFlags> flags() override { return source_->readFlags(watch_->target); }

  bool start(ReachabilityCallback onChange, Executor& executor) override {
    if (!watch_->reporter.start(std::move(onChange), executor, source_->readFlags(watch_->target))) return false;
    source_->ensurePolling();
    return true;
  }

  void stop() override { watch_->reporter.stop(); }

 private:
  std::shared_ptr<SystemReachabilitySource::State> source_;
  std::shared_ptr<SystemWatch> watch_;
};

}  // namespace

SystemReachabilitySource::SystemReachabilitySource(Duration pollInterval, RouteReader readRoutes)
    : state_(std::make_shared<State>()) {
  state_->pollInterval = pollInterval;
  state_->readRoutes = readRoutes ? std::move(readRoutes) : RouteReader(&detail::RouteTable::readSystemText);
}

SystemReachabilitySource::~SystemReachabilitySource() {
  std::unique_ptr<EventLoopThread> thread;
  Timer timer;
  {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    thread = std::move(state_->thread);
    timer = std::move(state_->timer);
  }
  timer.cancel();
  thread.reset();  // joins: no tick runs after this
}

std::unique_ptr<ReachabilityWatcher> SystemReachabilitySource::createWatcher(const ReachabilityTarget& target) {
  if (!detail::isWatchable(target)) return nullptr;
  auto watch = std::make_shared<SystemWatch>();
  watch->target = target;
  {
    std::lock_guard lock(state_->mutex);
    state_->watches.push_back(watch);
  }
  return std::make_unique<SystemWatcher>(state_, std::move(watch));
}

}  // namespace platform
