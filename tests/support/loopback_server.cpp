#include "support/loopback_server.hpp"

#include <stdexcept>

#include "support/eventually.hpp"

namespace test_support {

std::string RecordedRequest::header(const std::string& name) const {
  auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

LoopbackServer::LoopbackServer(Handler handler, Recording recording, const Tuning& tuning)
    : recording_(recording), handler_(std::move(handler)) {
  auto answer = [this](const httplib::Request& request, httplib::Response& response) { this->answer(request, response); };
  server_.Get(".*", answer);
  server_.Post(".*", answer);
  server_.Put(".*", answer);
  server_.Patch(".*", answer);
  server_.Delete(".*", answer);
  server_.Options(".*", answer);
  // Idle kept-alive clients would otherwise hold up the stop.
  server_.set_keep_alive_timeout(1);
  if (tuning) tuning(server_);
  port_ = server_.bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("loopback server: no port to bind");
  std::promise<void> ended;
  listenerEnded_ = ended.get_future();
  listener_ = std::thread([this, ended = std::move(ended)]() mutable {
    server_.listen_after_bind();
    ended.set_value();
  });
  if (!eventually([this] { return server_.is_running(); })) {
    stop();
    throw std::runtime_error("loopback server: the listener did not start");
  }
}

LoopbackServer::~LoopbackServer() { stop(); }

void LoopbackServer::stop() {
  if (!listener_.joinable()) return;
  // A stop that arrives before the listener loop runs is lost, so it is
  // repeated until the loop has ended.
  do {
    server_.stop();
  } while (listenerEnded_.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready);
  listener_.join();
}

std::string LoopbackServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::page(const std::string& path, std::string body, std::string contentType, int status) {
  std::lock_guard lock(mutex_);
  pages_[path] = Page{std::move(body), std::move(contentType), status};
}

void LoopbackServer::setHandler(Handler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t LoopbackServer::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_.size();
}

void LoopbackServer::clearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

bool LoopbackServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void LoopbackServer::answer(const httplib::Request& request, httplib::Response& response) {
  Handler handler;
  std::optional<Page> page;
  {
    std::lock_guard lock(mutex_);
    if (recording_ == Recording::On) {
      requests_.push_back(
          {request.method, request.path, request.target, request.body, request.headers, request.remote_port});
    }
    if (auto it = pages_.find(request.path); it != pages_.end()) page = it->second;
    else handler = handler_;
  }
  arrived_.notify_all();
  if (page) {
    response.status = page->status;
    response.set_content(page->body, page->contentType);
  } else if (handler) {
    handler(request, response);
  } else {
    response.status = 404;
  }
}

}  // namespace test_support
