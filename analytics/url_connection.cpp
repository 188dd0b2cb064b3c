#include "url_connection.hpp"

#include <curl/curl.h>

#include <cstring>

#include "analytics/analytics.hpp"
#include "platform/curl_setup.hpp"
#include "platform/event_loop_thread.hpp"
#include "platform/service_routing.hpp"

namespace analytics {

namespace {

constexpr int kPollMilliseconds = 5;

// One libcurl transfer on its own multi handle. The transfer is advanced in
// short polls posted to the analytics thread, so other work there (the store,
// timers) runs between them and a slow server never blocks the thread.
class CurlConnection final : public Connection, public std::enable_shared_from_this<CurlConnection> {
 public:
  CurlConnection(Request request, platform::EventLoopThread& thread, platform::Executor& completionQueue,
                 ConnectionCompletion completion)
      : request_(std::move(request)), thread_(thread), completionQueue_(completionQueue),
        completion_(std::move(completion)) {}

  ~CurlConnection() override { releaseHandles(); }

  void start(const Route& route, bool dryRun) {
    if (finished_) return;  // cancelled before it started
    if (dryRun) {
      response_ = HttpResponse{200, {}};
      finish(std::nullopt);
      return;
    }
    platform::ensureCurlSetUp();
    multi_ = curl_multi_init();
    easy_ = curl_easy_init();
    if (!multi_ || !easy_) {
      finish(platform::makeError(kConnectionErrorDomain, CURLE_FAILED_INIT, "cannot create a transfer"));
      return;
    }
    configure(route);
    curl_multi_add_handle(multi_, easy_);
    pump();
  }

  void cancel() override {
    if (finished_) return;
    data_.clear();
    response_.reset();
    finish(std::nullopt);
  }

 private:
  void configure(const Route& route) {
    curl_easy_setopt(easy_, CURLOPT_URL, route.url.c_str());
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT, 30L);
    // A stalled exchange ends after a minute without progress; a large batch
    // on a slow link may take longer as long as bytes keep moving.
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlConnection::onData);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlConnection::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    for (const auto& [name, value] : request_.headers) headers_ = curl_slist_append(headers_, (name + ": " + value).c_str());
    for (const auto& line : route.extraHeaders) headers_ = curl_slist_append(headers_, line.c_str());
    // No "Expect: 100-continue" round trip for small bodies.
    headers_ = curl_slist_append(headers_, "Expect:");
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    if (request_.method == "POST") {
      curl_easy_setopt(easy_, CURLOPT_POST, 1L);
      curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.body.size()));
      curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, request_.body.data());
    } else {
      curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    }
  }

  static std::size_t onData(char* bytes, std::size_t size, std::size_t count, void* self) {
    static_cast<CurlConnection*>(self)->data_.append(bytes, size * count);
    return size * count;
  }

  static std::size_t onHeader(char* bytes, std::size_t size, std::size_t count, void* self) {
    auto* connection = static_cast<CurlConnection*>(self);
    std::string_view line(bytes, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
      // A new response (after a redirect or an interim answer) replaces the last.
      connection->response_ = HttpResponse{};
      connection->data_.clear();
      auto space = line.find(' ');
      if (space != std::string_view::npos) connection->response_->statusCode = std::atol(line.data() + space + 1);
    } else if (auto colon = line.find(':'); colon != std::string_view::npos && connection->response_) {
      auto value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.remove_suffix(1);
      connection->response_->headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    }
    return size * count;
  }

  void pump() {
    if (finished_) return;
    int running = 0;
    curl_multi_poll(multi_, nullptr, 0, kPollMilliseconds, nullptr);
    curl_multi_perform(multi_, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      CURLcode result = message->data.result;
      if (result == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
        if (!response_) response_ = HttpResponse{};
        response_->statusCode = status;
        finish(std::nullopt);
      } else {
        std::string text = errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(result);
        // A transfer cut off mid-answer has no usable response.
        response_.reset();
        finish(platform::makeError(kConnectionErrorDomain, result, text));
      }
      return;
    }
    thread_.post([self = shared_from_this()] { self->pump(); });
  }

  void finish(std::optional<platform::Error> error) {
    if (finished_) return;
    finished_ = true;
    releaseHandles();
    completionQueue_.post([completion = std::move(completion_), response = std::move(response_),
                           data = std::move(data_), error = std::move(error)]() mutable {
      completion(std::move(response), std::move(data), std::move(error));
    });
  }

  void releaseHandles() {
    if (multi_ && easy_) curl_multi_remove_handle(multi_, easy_);
    if (easy_) curl_easy_cleanup(easy_);
    if (multi_) curl_multi_cleanup(multi_);
    if (headers_) curl_slist_free_all(headers_);
    easy_ = nullptr;
    multi_ = nullptr;
    headers_ = nullptr;
  }

  Request request_;
  platform::EventLoopThread& thread_;
  platform::Executor& completionQueue_;
  ConnectionCompletion completion_;
  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
  std::optional<HttpResponse> response_;
  std::string data_;
  bool finished_ = false;
};

}  // namespace

URLConnectionFactory::URLConnectionFactory(RequestRouter router, platform::EventLoopThread* thread)
    : router_(std::move(router)), thread_(thread) {}

std::shared_ptr<Connection> URLConnectionFactory::start(Request request, platform::Executor& completionQueue,
                                                        ConnectionCompletion completion) {
  auto& thread = thread_ ? *thread_ : Analytics::thread();
  Route route{request.url, {}};
  if (router_) {
    route = router_(request.url);
  } else if (auto routed = platform::ServiceRouting::shared().route(request.url)) {
    route = Route{routed->url, {"Host: " + routed->hostHeader}};
  }
  auto connection = std::make_shared<CurlConnection>(std::move(request), thread, completionQueue, std::move(completion));
  thread.perform([connection, route = std::move(route), dryRun = dryRun()] { connection->start(route, dryRun); },
                 platform::EventLoopThread::Wait::No);
  return connection;
}

}  // namespace analytics
