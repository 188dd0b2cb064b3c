#include "command_budget.hpp"

#include "backend_error.hpp"

namespace devserver::backend {
namespace {

// Reading the clock costs more than a step; look at it every so many steps.
constexpr std::uint64_t kStepsPerClockCheck = 256;

}  // namespace

CommandBudget::CommandBudget(const CommandLimits& limits)
    : deadline_(std::chrono::steady_clock::now() + limits.time), stepsLeft_(limits.steps) {}

void CommandBudget::spend(std::uint64_t steps) {
  if (steps > stepsLeft_) refuse("it needs more than its share of work");
  stepsLeft_ -= steps;
  sinceClockCheck_ += steps;
  if (sinceClockCheck_ < kStepsPerClockCheck) return;
  sinceClockCheck_ = 0;
  if (std::chrono::steady_clock::now() > deadline_) refuse("it runs longer than its share of time");
}

void CommandBudget::checkCap(std::size_t size, std::size_t limit, const std::string& what) {
  if (size > limit) refuse(what + " (at most " + std::to_string(limit) + ")");
}

void CommandBudget::refuse(const std::string& reason) {
  throw BackendError(code::kRequestTooExpensive, "request too expensive: " + reason);
}

}  // namespace devserver::backend
