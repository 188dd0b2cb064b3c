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
  static ThreadPool pool("vv-background", backgroundThreadCount(), ThreadPool::Priority::Default);
  return pool;
}

Executor& lowPriorityQueue() {
  static ThreadPool pool("vv-low", 2, ThreadPool::Priority::Low);
  return pool;
}

namespace detail {
std::thread::id mainThreadId() noexcept { return kMainThreadId; }
}  // namespace detail

}  // namespace platform
