#include "platform/clock.hpp"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace platform {
namespace {

// The real clocks, and one thread that waits for the earliest alarm.
class SystemClock final : public Clock {
 public:
  SystemClock() : thread_([this] { fireWhenDue(); }) {}
  ~SystemClock() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }

  WallTime now() const override { return std::chrono::system_clock::now(); }
  SteadyTime steadyNow() const override { return std::chrono::steady_clock::now(); }

  void schedule(SteadyTime deadline, Fire fire) override {
    bool earliest;
    {
      std::lock_guard lock(mutex_);
      earliest = alarms_.empty() || deadline < alarms_.begin()->first;
      alarms_.emplace(deadline, std::move(fire));
    }
    if (earliest) wake_.notify_one();
  }

 private:
  void fireWhenDue() {
    pthread_setname_np(pthread_self(), "vv-timers");
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (alarms_.empty()) {
        wake_.wait(lock);
      } else if (alarms_.begin()->first > std::chrono::steady_clock::now()) {
        wake_.wait_until(lock, alarms_.begin()->first);
      } else {
        Fire fire = std::move(alarms_.begin()->second);
        alarms_.erase(alarms_.begin());
        lock.unlock();
        fire();
        lock.lock();
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::multimap<SteadyTime, Fire> alarms_;
  bool stopping_ = false;
  std::thread thread_;
};

SystemClock& systemClock() {
  // Lives for the whole process: alarms may be scheduled during exit.
  static SystemClock* clock = new SystemClock();
  return *clock;
}

std::atomic<Clock*> installedClock{nullptr};

}  // namespace

Clock& clock() noexcept {
  Clock* installed = installedClock.load(std::memory_order_acquire);
  return installed ? *installed : systemClock();
}

void setClock(Clock* clock) noexcept { installedClock.store(clock, std::memory_order_release); }

}  // namespace platform
