#pragma once
// A real HTTP server on 127.0.0.1 for tests. It records every request and
// answers from a table of canned pages or through a replaceable handler.
//
// The server library's own route table is complete before its listener
// starts; everything a test may change later (pages, handler, the record)
// sits behind one lock, because a test's write is otherwise unordered with
// a request already in flight on one of the library's workers.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string target;  // path and query as sent
  std::string body;
  httplib::Headers headers;
  int remotePort = 0;

  // The first value of header `name` ("" when absent).
  std::string header(const std::string& name) const;
  bool hasHeader(const std::string& name) const { return headers.count(name) != 0; }
};

class LoopbackServer {
 public:
  // Runs on one of the server's workers, possibly on several at once.
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
  // Adjusts the server library's settings before the port is bound.
  using Tuning = std::function<void(httplib::Server&)>;
  // A benchmark sending millions of requests keeps no record of them.
  enum class Recording { On, Off };

  // Binds a free port and waits, bounded, until the listener runs; throws
  // std::runtime_error when it cannot. Without a handler, a request for no
  // canned page is answered 404.
  explicit LoopbackServer(Handler handler = {}, Recording recording = Recording::On, const Tuning& tuning = {});
  // Stops the listener (even one that has not started yet) and joins it.
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const noexcept { return port_; }
  // "http://127.0.0.1:PORT" followed by `path`.
  std::string url(const std::string& path = "") const;

  // Answers requests for exactly `path` (query ignored) with this page.
  void page(const std::string& path, std::string body, std::string contentType = "text/html; charset=utf-8",
            int status = 200);
  void setHandler(Handler handler);

  std::vector<RecordedRequest> requests() const;
  std::size_t requestCount() const;
  void clearRequests();
  // Waits, bounded, until at least `count` requests arrived.
  bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

 private:
  struct Page {
    std::string body;
    std::string contentType;
    int status = 200;
  };

  void answer(const httplib::Request& request, httplib::Response& response);
  void stop();

  httplib::Server server_;
  const Recording recording_;
  int port_ = 0;
  std::thread listener_;
  std::future<void> listenerEnded_;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::map<std::string, Page> pages_;
  Handler handler_;
  std::vector<RecordedRequest> requests_;
};

}  // namespace test_support
