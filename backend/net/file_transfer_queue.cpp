#include "file_transfer_queue.hpp"

#include <pthread.h>

#include "networking_utils.hpp"

namespace backend {

FileTransferQueue& FileTransferQueue::shared() {
  static FileTransferQueue queue;
  return queue;
}

FileTransferQueue::FileTransferQueue() {
  // Started first, so the network thread outlives the transfers that wait
  // on it while the process exits.
  net::NetworkThread::shared();
  for (int i = 0; i < kMaxConcurrentTransfers; ++i) {
    workers_.emplace_back([this] {
      pthread_setname_np(pthread_self(), "BEFileTransfer");
      runWorker();
    });
  }
}

FileTransferQueue::~FileTransferQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_all();
  for (auto& worker : workers_) worker.join();
}

void FileTransferQueue::post(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
  }
  ready_.notify_one();
}

void FileTransferQueue::runWorker() {
  for (;;) {
    std::function<void()> work;
    {
      std::unique_lock lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    work();
  }
}

}  // namespace backend
