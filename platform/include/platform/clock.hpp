#pragma once
// The process's time: the wall clock, the steady clock and the alarms that
// every timer and delayed post rests on. Replaceable, so tests move time by
// hand instead of sleeping.

#include <chrono>
#include <functional>

namespace platform {

using WallTime = std::chrono::system_clock::time_point;
using SteadyTime = std::chrono::steady_clock::time_point;

class Clock {
 public:
  using Fire = std::function<void()>;

  virtual ~Clock() = default;
  // Wall-clock time.
  virtual WallTime now() const = 0;
  // Monotonic time, for intervals and deadlines.
  virtual SteadyTime steadyNow() const = 0;
  // Calls `fire` once, when steadyNow() has reached `deadline`: the system
  // clock on its own timer thread, a test's clock when it is moved past the
  // deadline. `fire` only hands work on (posts it); whoever needs to cancel
  // checks a flag of its own where the work runs. Thread-safe.
  virtual void schedule(SteadyTime deadline, Fire fire) = 0;
};

// The clock in use: the system clock unless a test installed another.
Clock& clock() noexcept;
// Installs a clock (nullptr restores the system clock). The clock must outlive its use.
void setClock(Clock* clock) noexcept;

}  // namespace platform
