#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace devserver::backend {

// How much work one request may make the service do. The service serves one
// request at a time, so an unbounded query would stall every other client.
struct CommandLimits {
  std::chrono::milliseconds time{1000};
  std::uint64_t steps = 2'000'000;  // objects examined, constraints evaluated, regex work
};

// The work left to one request. Checked inside matching so an expensive
// query ends with an error answer instead of a stall. Not thread-safe: one
// request owns it.
class CommandBudget {
 public:
  explicit CommandBudget(const CommandLimits& limits);

  // Charges `steps` units of work. Throws BackendError(kRequestTooExpensive)
  // once the steps or the time are used up.
  void spend(std::uint64_t steps = 1);

  // Throws BackendError(kRequestTooExpensive) naming `what` when `size`
  // exceeds `limit`; for caps on lists and nesting in a request.
  static void checkCap(std::size_t size, std::size_t limit, const std::string& what);

 private:
  [[noreturn]] static void refuse(const std::string& reason);

  std::chrono::steady_clock::time_point deadline_;
  std::uint64_t stepsLeft_;
  std::uint64_t sinceClockCheck_ = 0;
};

}  // namespace devserver::backend
