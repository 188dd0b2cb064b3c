#pragma once
// A point in time, kept as seconds since 1970-01-01 00:00:00 UTC with
// sub-millisecond precision.

#include <chrono>
#include <compare>

namespace platform {

class Date {
 public:
  constexpr Date() noexcept = default;
  constexpr explicit Date(double secondsSince1970) noexcept : seconds_(secondsSince1970) {}
  static Date fromTimePoint(std::chrono::system_clock::time_point tp) noexcept;
  // The current time of the process clock (see clock.hpp).
  static Date now();

  constexpr double timeIntervalSince1970() const noexcept { return seconds_; }
  constexpr double timeIntervalSince(Date other) const noexcept { return seconds_ - other.seconds_; }
  constexpr Date addingTimeInterval(double seconds) const noexcept { return Date(seconds_ + seconds); }
  std::chrono::system_clock::time_point timePoint() const noexcept;

  constexpr auto operator<=>(const Date&) const noexcept = default;

 private:
  double seconds_ = 0;
};

}  // namespace platform
