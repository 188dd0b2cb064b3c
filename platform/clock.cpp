#include "platform/clock.hpp"

#include <atomic>

namespace platform {
namespace {

class SystemClock final : public Clock {
 public:
  std::chrono::system_clock::time_point now() const override { return std::chrono::system_clock::now(); }
};

const SystemClock systemClock;
std::atomic<const Clock*> installedClock{nullptr};

}  // namespace

const Clock& clock() noexcept {
  const Clock* installed = installedClock.load(std::memory_order_acquire);
  return installed ? *installed : systemClock;
}

void setClock(const Clock* clock) noexcept { installedClock.store(clock, std::memory_order_release); }

}  // namespace platform
