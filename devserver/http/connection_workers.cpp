#include "connection_workers.hpp"

namespace devserver {

ConnectionWorkers::ConnectionWorkers(std::size_t maxThreads) : maxThreads_(maxThreads == 0 ? 1 : maxThreads) {}

ConnectionWorkers::~ConnectionWorkers() { shutdown(); }

void ConnectionWorkers::enqueue(std::function<void()> task) {
  std::lock_guard lock(mutex_);
  waiting_.push_back(std::move(task));
  if (idle_ < waiting_.size() && threads_.size() < maxThreads_) {
    threads_.emplace_back([this] { work(); });
  } else {
    wake_.notify_one();
  }
}

void ConnectionWorkers::shutdown() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    threads.swap(threads_);
  }
  wake_.notify_all();
  for (auto& thread : threads) thread.join();
}

std::size_t ConnectionWorkers::threadCount() {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

void ConnectionWorkers::work() {
  std::unique_lock lock(mutex_);
  while (true) {
    ++idle_;
    wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    --idle_;
    if (waiting_.empty()) return;  // stopping, and nothing left to run
    auto task = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}

}  // namespace devserver
