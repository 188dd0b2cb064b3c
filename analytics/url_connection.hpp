#pragma once
// One HTTP exchange of the dispatcher, run by libcurl on the analytics thread.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analytics/collection.hpp"
#include "platform/error.hpp"
#include "platform/executor.hpp"
#include "request_builder.hpp"

namespace platform {
class EventLoopThread;
}

namespace analytics {

struct HttpResponse {
  long statusCode = 0;
  std::vector<std::pair<std::string, std::string>> headers;
};

// Called on the completion queue: the final response (none when no HTTP
// answer came), the body received, and the failure when there is one.
using ConnectionCompletion =
    std::function<void(std::optional<HttpResponse>, std::string data, std::optional<platform::Error>)>;

// An exchange in flight.
class Connection {
 public:
  virtual ~Connection() = default;
  // Drops what was received and finishes as a failure without an error.
  // Call on the analytics thread; the completion still runs once.
  virtual void cancel() = 0;
};

// Makes exchanges (the dispatcher's connection factory).
class ConnectionFactory {
 public:
  virtual ~ConnectionFactory() = default;
  // Starts the exchange on the analytics thread without waiting; the
  // completion runs once, on `completionQueue`.
  virtual std::shared_ptr<Connection> start(Request request, platform::Executor& completionQueue,
                                            ConnectionCompletion completion) = 0;
  // In dry-run mode every exchange answers status 200 with no body at once,
  // without network traffic.
  void setDryRun(bool dryRun) { dryRun_.store(dryRun); }
  bool dryRun() const { return dryRun_.load(); }

 private:
  std::atomic<bool> dryRun_{false};
};

// Exchanges over libcurl, driven on the given thread (default: the analytics
// thread). Redirects are followed; nothing is cached. Without a router of its
// own, requests follow the process-wide service routing.
class URLConnectionFactory final : public ConnectionFactory {
 public:
  explicit URLConnectionFactory(RequestRouter router = {}, platform::EventLoopThread* thread = nullptr);
  std::shared_ptr<Connection> start(Request request, platform::Executor& completionQueue,
                                    ConnectionCompletion completion) override;

 private:
  RequestRouter router_;
  platform::EventLoopThread* thread_;
};

inline constexpr const char* kConnectionErrorDomain = "AnalyticsConnection";

}  // namespace analytics
