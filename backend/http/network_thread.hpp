#pragma once
// The shared network thread: one libcurl multi handle, the loop that drives
// it, and the easy handles it recycles. Internal to the request operations.

#include <curl/curl.h>

#include <atomic>
#include <map>
#include <memory>
#include <vector>

#include "platform/event_loop_thread.hpp"

namespace backend::http {

class Connection;

class NetworkThread {
 public:
  // The process-wide instance, started on first use and stopped at exit.
  static NetworkThread& shared();

  NetworkThread();
  ~NetworkThread();
  NetworkThread(const NetworkThread&) = delete;
  NetworkThread& operator=(const NetworkThread&) = delete;

  // Runs `work` on the network thread after the work posted before it.
  // Callable from any thread; a blocked transfer poll is woken at most once
  // per batch of posts, and not at all when the caller is the thread itself.
  void post(platform::Work work);
  bool isCurrent() const;

  // The rest is for the network thread only.

  // An easy handle with default options, recycled when one is free; the
  // caller hands it back with recycle() or frees it itself.
  CURL* takeHandle();
  // Clears the handle's options (the multi handle keeps its connection) and
  // keeps it for the next transfer.
  void recycle(CURL* easy);

  // Starts the transfer; `connection` hears handleDone() when it ends unless
  // it is removed first.
  void add(const std::shared_ptr<Connection>& connection, CURL* easy);
  // Stops the transfer without a word to its connection; a no-op when the
  // transfer is not running.
  void remove(CURL* easy);

 private:
  void schedulePump();
  void pump();
  void finishTransfers();

  CURLM* multi_;
  std::unique_ptr<platform::EventLoopThread> thread_;
  // Network thread only.
  std::map<CURL*, std::shared_ptr<Connection>> transfers_;
  std::vector<CURL*> idleHandles_;
  bool pumping_ = false;
  bool postedFromLoop_ = false;
  // Set by the first post after the loop last woke; the later ones of the
  // batch need not write to the wake-up pipe again.
  std::atomic<bool> wakePending_{false};
};

}  // namespace backend::http
