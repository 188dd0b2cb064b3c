#pragma once

#include <httplib.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace devserver {

// The HTTP server's task queue. The server hands it one task per accepted
// connection, and the task holds its thread for as long as the connection
// stays open (kept alive between requests, or a held event stream). A fixed
// pool smaller than the open connections leaves new ones waiting behind idle
// kept-alive ones, so this one starts a thread whenever none is free, up to
// `maxThreads`; only beyond that do connections wait for a thread. Threads
// stay for reuse until shutdown().
class ConnectionWorkers : public httplib::TaskQueue {
 public:
  explicit ConnectionWorkers(std::size_t maxThreads);
  ~ConnectionWorkers() override;
  ConnectionWorkers(const ConnectionWorkers&) = delete;
  ConnectionWorkers& operator=(const ConnectionWorkers&) = delete;

  void enqueue(std::function<void()> task) override;
  // Runs the tasks still waiting, then joins every thread.
  void shutdown() override;

  // Threads started so far.
  std::size_t threadCount();

 private:
  void work();

  const std::size_t maxThreads_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> waiting_;
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace devserver
