#include "platform/executor.hpp"

#include <atomic>
#include <memory>
#include <thread>

#include "platform/clock.hpp"
#include "platform/run_loop.hpp"
#include "runnable_handler.hpp"
#include "thread_pool.hpp"

namespace platform {
namespace {

const std::thread::id kMainThreadId = std::this_thread::get_id();
std::atomic<Executor*> installedMainQueue{nullptr};

unsigned backgroundThreadCount() {
  unsigned cores = std::thread::hardware_concurrency();
  return cores < 4 ? 4 : cores;
}

// A shared pool stops its threads at exit where a static would end, but the
// object itself stays: timer alarms and other threads may still post to it
// while the process ends, and that work is then queued, never run, instead of
// reaching a pool being destroyed.
class ProcessPool {
 public:
  ProcessPool(const char* name, unsigned threads, ThreadPool::Priority priority)
      : pool_(new ThreadPool(name, threads, priority)) {}
  ~ProcessPool() { pool_->stop(); }
  ThreadPool& pool() { return *pool_; }

 private:
  ThreadPool* pool_;
};

}  // namespace

void Executor::postDelayed(Duration delay, Work work) {
  clock().schedule(clock().steadyNow() + delay, [this, work = std::move(work)]() mutable { post(std::move(work)); });
}

void Executor::postRunnable(Runnable& runnable) {
  // Work must be copyable; the shared handler still runs or discards once.
  auto handler = std::make_shared<detail::RunnableHandler>(runnable);
  post([handler] { (*handler)(); });
}

bool isMainThread() noexcept { return std::this_thread::get_id() == kMainThreadId; }

Executor& mainQueue() {
  Executor* installed = installedMainQueue.load(std::memory_order_acquire);
  return installed ? *installed : RunLoop::main();
}

void setMainQueue(Executor* queue) noexcept { installedMainQueue.store(queue, std::memory_order_release); }

Executor& backgroundQueue() {
  static ProcessPool shared("vv-background", backgroundThreadCount(), ThreadPool::Priority::Default);
  return shared.pool();
}

Executor& lowPriorityQueue() {
  static ProcessPool shared("vv-low", 2, ThreadPool::Priority::Low);
  return shared.pool();
}

namespace detail {
std::thread::id mainThreadId() noexcept { return kMainThreadId; }
}  // namespace detail

}  // namespace platform
