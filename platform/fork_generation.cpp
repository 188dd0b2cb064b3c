#include "platform/fork_generation.hpp"

#include <pthread.h>

#include <atomic>

namespace platform {

namespace {

std::atomic<unsigned> forks{0};

void countFork() { forks.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

std::optional<unsigned> forkGeneration() noexcept {
  // Installed before any caller keeps state, so no fork goes uncounted.
  static const bool watching = ::pthread_atfork(nullptr, nullptr, countFork) == 0;
  if (!watching) return std::nullopt;
  return forks.load(std::memory_order_relaxed);
}

}  // namespace platform
