#pragma once
// The queue that file uploads and downloads run on: at most three at once,
// each on a thread of its own, since a transfer blocks its thread while its
// HTTP command runs (the shared background pool stays free for the task
// continuations that transfers wait on).

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace backend {

class FileTransferQueue {
 public:
  static constexpr int kMaxConcurrentTransfers = 3;

  // The process-wide queue; its threads are joined when the process exits.
  static FileTransferQueue& shared();
  ~FileTransferQueue();
  FileTransferQueue(const FileTransferQueue&) = delete;
  FileTransferQueue& operator=(const FileTransferQueue&) = delete;

  // Runs `work` on a transfer thread, in the order queued. Thread-safe.
  void post(std::function<void()> work);

 private:
  FileTransferQueue();
  void runWorker();

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace backend
