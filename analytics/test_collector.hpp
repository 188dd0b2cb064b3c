#pragma once
// A real collection endpoint on loopback for the tests: records every
// request (with gzip and deflate bodies inflated) and answers a chosen status.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "analytics/compression_util.hpp"

namespace analytics::testing {

struct RecordedRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::string body;    // inflated
  std::string contentEncoding;
  std::string host;
  std::string userAgent;
};

class TestCollector {
 public:
  TestCollector() {
    auto handler = [this](const httplib::Request& request, httplib::Response& response) { record(request, response); };
    server_.Get(".*", handler);
    server_.Post(".*", handler);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~TestCollector() {
    // stop() only takes effect once the accept loop runs.
    for (int i = 0; i < 2000 && !server_.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server_.stop();
    thread_.join();
  }

  int port() const { return port_; }
  std::string url(const std::string& path = "/collect") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  void setStatus(int status) {
    std::lock_guard lock(mutex_);
    status_ = status;
  }
  // Answers only after this long (a slow collector).
  void setDelay(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    delay_ = delay;
  }
  std::vector<RecordedRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  // Waits (bounded) until at least `count` requests arrived.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
  }

 private:
  void record(const httplib::Request& request, httplib::Response& response) {
    RecordedRequest recorded{request.method, request.target, request.body,
                             request.get_header_value("Content-Encoding"), request.get_header_value("Host"),
                             request.get_header_value("User-Agent")};
    if (recorded.contentEncoding == "gzip" || recorded.contentEncoding == "deflate") {
      // The packaged server library may already have inflated the body.
      if (auto inflated = CompressionUtil::inflate(request.body, false)) recorded.body = std::move(*inflated);
    }
    std::chrono::milliseconds delay;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(std::move(recorded));
      response.status = status_;
      delay = delay_;
    }
    arrived_.notify_all();
    std::this_thread::sleep_for(delay);
  }

  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<RecordedRequest> requests_;
  int status_ = 200;
  std::chrono::milliseconds delay_{0};
};

}  // namespace analytics::testing
