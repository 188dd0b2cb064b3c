#include "platform/date.hpp"

#include <cmath>

#include "platform/clock.hpp"

namespace platform {

Date Date::fromTimePoint(std::chrono::system_clock::time_point tp) noexcept {
  using Seconds = std::chrono::duration<double>;
  return Date(std::chrono::duration_cast<Seconds>(tp.time_since_epoch()).count());
}

Date Date::now() { return fromTimePoint(clock().now()); }

std::chrono::system_clock::time_point Date::timePoint() const noexcept {
  using Clock = std::chrono::system_clock;
  // Saturate: a date read from untrusted data may lie far outside the range
  // the clock's integer ticks can hold.
  const double ticks = std::round(seconds_ * Clock::period::den / Clock::period::num);
  constexpr double kMaxTicks = static_cast<double>(Clock::duration::max().count());
  constexpr double kMinTicks = static_cast<double>(Clock::duration::min().count());
  if (std::isnan(ticks)) return Clock::time_point{};
  if (ticks >= kMaxTicks) return Clock::time_point::max();
  if (ticks <= kMinTicks) return Clock::time_point::min();
  return Clock::time_point(Clock::duration(static_cast<Clock::duration::rep>(ticks)));
}

}  // namespace platform
