#pragma once
// A real HTTP server on loopback for the request tests: records every
// request and answers through a replaceable handler.

#include <httplib.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace backend::testing {

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string body;
  httplib::Headers headers;
  int remotePort = 0;
  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

class LoopbackServer {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

  LoopbackServer() {
    auto handle = [this](const httplib::Request& request, httplib::Response& response) {
      Handler handler;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back({request.method, request.path, request.body, request.headers, request.remote_port});
        handler = handler_;
      }
      if (handler) handler(request, response);
      else response.set_content("{\"result\":{}}", "application/json");
    };
    server_.Get(".*", handle);
    server_.Post(".*", handle);
    server_.Put(".*", handle);
    server_.Delete(".*", handle);
    // Short idle keep-alive so that stopping does not wait for idle clients.
    server_.set_keep_alive_timeout(1);
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::yield();
  }
  ~LoopbackServer() {
    server_.stop();
    thread_.join();
  }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }
  void setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
  }
  std::vector<RecordedRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::size_t requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  Handler handler_;
  std::vector<RecordedRequest> requests_;
};

}  // namespace backend::testing
