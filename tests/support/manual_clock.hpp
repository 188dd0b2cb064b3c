#pragma once
// A clock that tests move by hand: nothing timed happens until the test
// advances it, so a test waits for no real time and races no timer.

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/clock.hpp"

namespace test_support {

class ManualClock final : public platform::Clock {
 public:
  // Installs itself as the process clock; the destructor restores the system
  // clock and drops alarms that never fell due.
  explicit ManualClock(platform::WallTime wall = platform::WallTime(std::chrono::hours(480000)));
  ~ManualClock() override;
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  platform::WallTime now() const override;
  platform::SteadyTime steadyNow() const override;
  void schedule(platform::SteadyTime deadline, Fire fire) override;

  // Moves both clocks forward by `step`, firing on the calling thread, in
  // deadline order, every alarm that falls due on the way (also those that
  // the fired ones schedule within the step).
  void advance(std::chrono::steady_clock::duration step);
  // Sets the wall clock alone, as a user changing the date does.
  void setNow(platform::WallTime wall);

  std::size_t pendingAlarms() const;
  // Waits (bounded, in real time) until at least `count` alarms are pending:
  // the code under test, on its own threads, has armed its timers.
  bool waitForAlarms(std::size_t count) const;
  // The time from now until the earliest pending alarm (nullopt when none).
  std::optional<std::chrono::steady_clock::duration> untilNextAlarm() const;

 private:
  mutable std::mutex mutex_;
  platform::WallTime wall_;
  platform::SteadyTime steady_{std::chrono::hours(1)};
  std::multimap<platform::SteadyTime, Fire> alarms_;
};

}  // namespace test_support
