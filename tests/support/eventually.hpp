#pragma once
// Waits for something another thread makes true, without racing a timer:
// the condition is polled until it holds or a generous bound runs out.

#include <chrono>
#include <thread>

namespace test_support {

// The bound is a safety net against a hang, not a timing expectation: a
// loaded machine must never make a correct program fail it.
inline constexpr std::chrono::milliseconds kEventuallyTimeout{20000};

// True as soon as `predicate()` is; false when it still is not after `timeout`.
// A predicate that asks a server over HTTP polls less often (`interval`).
template <class Predicate>
bool eventually(Predicate&& predicate, std::chrono::milliseconds timeout = kEventuallyTimeout,
                std::chrono::milliseconds interval = std::chrono::milliseconds(1)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() >= deadline) return predicate();
    std::this_thread::sleep_for(interval);
  }
  return true;
}

}  // namespace test_support
