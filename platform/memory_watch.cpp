#include "platform/memory_watch.hpp"

#include <unistd.h>

#include <cstdio>
#include <mutex>

#include "platform/application_notifications.hpp"
#include "platform/clock.hpp"
#include "platform/executor.hpp"
#include "platform/notification_center.hpp"

namespace platform {

std::size_t residentBytes() {
  std::FILE* statm = std::fopen("/proc/self/statm", "re");
  if (!statm) return 0;
  unsigned long long size = 0, resident = 0;
  const bool read = std::fscanf(statm, "%llu %llu", &size, &resident) == 2;
  std::fclose(statm);
  const long page = ::sysconf(_SC_PAGESIZE);
  return read && page > 0 ? static_cast<std::size_t>(resident) * static_cast<std::size_t>(page) : 0;
}

struct MemoryWatch::State : std::enable_shared_from_this<MemoryWatch::State> {
  State(std::size_t limit, std::chrono::steady_clock::duration interval, Sampler sample)
      : limit(limit), interval(interval), sample(std::move(sample)) {}
  const std::size_t limit;
  const std::chrono::steady_clock::duration interval;
  const Sampler sample;
  std::mutex mutex;
  bool above = false;
  bool stopped = false;

  bool check() {
    const bool nowAbove = sample() > limit;
    {
      std::lock_guard lock(mutex);
      const bool rose = nowAbove && !above;
      above = nowAbove;
      if (!rose || stopped) return false;
    }
    NotificationCenter::defaultCenter().post(kApplicationDidReceiveMemoryWarningNotification);
    return true;
  }

  void scheduleNext() {
    std::weak_ptr<State> weak = weak_from_this();
    clock().schedule(clock().steadyNow() + interval, [weak] {
      backgroundQueue().post([weak] {
        auto self = weak.lock();
        if (!self) return;
        {
          std::lock_guard lock(self->mutex);
          if (self->stopped) return;
        }
        self->check();
        self->scheduleNext();
      });
    });
  }
};

MemoryWatch::MemoryWatch(std::size_t limitBytes, std::chrono::steady_clock::duration interval, Sampler sample)
    : state_(std::make_shared<State>(limitBytes, interval, std::move(sample))) {
  state_->scheduleNext();
}

MemoryWatch::~MemoryWatch() {
  std::lock_guard lock(state_->mutex);
  state_->stopped = true;
}

bool MemoryWatch::check() { return state_->check(); }

}  // namespace platform
