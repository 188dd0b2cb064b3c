#pragma once
// The process clock, replaceable so tests can move time.

#include <chrono>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Wall-clock time.
  virtual std::chrono::system_clock::time_point now() const = 0;
};

// The clock in use: the system clock unless a test installed another.
const Clock& clock() noexcept;
// Installs a clock (nullptr restores the system clock). The clock must outlive its use.
void setClock(const Clock* clock) noexcept;

}  // namespace platform
