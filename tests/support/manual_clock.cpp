#include "support/manual_clock.hpp"

#include "support/eventually.hpp"

namespace test_support {

ManualClock::ManualClock(platform::WallTime wall) : wall_(wall) { platform::setClock(this); }

ManualClock::~ManualClock() {
  platform::setClock(nullptr);
  // A timer of the real clock may have re-armed itself here from its own
  // thread; take its alarms under the lock, and drop them outside it.
  decltype(alarms_) dropped;
  std::lock_guard lock(mutex_);
  dropped.swap(alarms_);
}

platform::WallTime ManualClock::now() const {
  std::lock_guard lock(mutex_);
  return wall_;
}

platform::SteadyTime ManualClock::steadyNow() const {
  std::lock_guard lock(mutex_);
  return steady_;
}

void ManualClock::schedule(platform::SteadyTime deadline, Fire fire) {
  std::lock_guard lock(mutex_);
  alarms_.emplace(deadline, std::move(fire));
}

void ManualClock::advance(std::chrono::steady_clock::duration step) {
  std::unique_lock lock(mutex_);
  const platform::SteadyTime end = steady_ + step;
  while (!alarms_.empty() && alarms_.begin()->first <= end) {
    auto due = alarms_.begin();
    // Time stands at each alarm's deadline while it fires, so what it
    // schedules is measured from there.
    if (due->first > steady_) {
      wall_ += due->first - steady_;
      steady_ = due->first;
    }
    Fire fire = std::move(due->second);
    alarms_.erase(due);
    lock.unlock();
    fire();
    lock.lock();
  }
  wall_ += end - steady_;
  steady_ = end;
}

void ManualClock::setNow(platform::WallTime wall) {
  std::lock_guard lock(mutex_);
  wall_ = wall;
}

std::size_t ManualClock::pendingAlarms() const {
  std::lock_guard lock(mutex_);
  return alarms_.size();
}

bool ManualClock::waitForAlarms(std::size_t count) const {
  return eventually([&] { return pendingAlarms() >= count; });
}

std::optional<std::chrono::steady_clock::duration> ManualClock::untilNextAlarm() const {
  std::lock_guard lock(mutex_);
  if (alarms_.empty()) return std::nullopt;
  return alarms_.begin()->first - steady_;
}

}  // namespace test_support
