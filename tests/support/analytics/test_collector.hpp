#pragma once
// A real collection endpoint on loopback for the analytics tests: records
// every request (with gzip and deflate bodies inflated) and answers a chosen
// status, after a chosen delay.

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "compression_util.hpp"
#include "support/loopback_server.hpp"

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
  TestCollector() { answerWith(200, std::chrono::milliseconds(0)); }

  std::string url(const std::string& path = "/collect") const { return server_.url(path); }
  void setStatus(int status) {
    status_ = status;
    answerWith(status_, delay_);
  }
  // Answers only after this long (a slow collector).
  void setDelay(std::chrono::milliseconds delay) {
    delay_ = delay;
    answerWith(status_, delay_);
  }
  std::vector<RecordedRequest> requests() const {
    std::vector<RecordedRequest> recorded;
    for (const test_support::RecordedRequest& request : server_.requests()) recorded.push_back(decoded(request));
    return recorded;
  }

 private:
  void answerWith(int status, std::chrono::milliseconds delay) {
    server_.setHandler([status, delay](const httplib::Request&, httplib::Response& response) {
      response.status = status;
      std::this_thread::sleep_for(delay);
    });
  }

  static RecordedRequest decoded(const test_support::RecordedRequest& request) {
    RecordedRequest recorded{request.method, request.target, request.body, request.header("Content-Encoding"),
                             request.header("Host"), request.header("User-Agent")};
    if (recorded.contentEncoding == "gzip" || recorded.contentEncoding == "deflate") {
      // The packaged server library may already have inflated the body.
      if (auto inflated = CompressionUtil::inflate(request.body, false)) recorded.body = std::move(*inflated);
    }
    return recorded;
  }

  // Written by the test thread only; the handler gets copies.
  int status_ = 200;
  std::chrono::milliseconds delay_{0};
  test_support::LoopbackServer server_;
};

}  // namespace analytics::testing
