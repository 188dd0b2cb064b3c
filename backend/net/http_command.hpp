#pragma once
// One HTTP/1.1 transfer on the transport's network thread: the request
// header block and optional body go up, the response comes down into an
// HTTPResponse. Build it, optionally set a body, callbacks and fields, then
// send() from a background thread (it blocks until the transfer ends).

#include <asio/steady_timer.hpp>

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "backend/net/http_command_delegate.hpp"
#include "http_headers.hpp"
#include "http_response.hpp"
#include "multipart_request.hpp"
#include "platform/error.hpp"

namespace backend::net {

// The domain of transport errors that are not the system's own.
inline constexpr const char* kHTTPCommandErrorDomain = "BEHTTPCommand";
enum HTTPCommandErrorCode : std::int64_t {
  kHTTPCommandErrorTimedOut = 1,           // nothing moved for the whole timeout
  kHTTPCommandErrorConnectionLost = 2,     // the stream ended before the response did
  kHTTPCommandErrorMalformedResponse = 3,  // header or chunked body not understood
  kHTTPCommandErrorBodyEndedEarly = 4,     // the request body had fewer bytes than announced
  kHTTPCommandErrorBadURL = 5,             // no host, or a scheme other than http and https
};

class HTTPCommand : public std::enable_shared_from_this<HTTPCommand> {
  struct Private {};

 public:
  enum Status : int {
    kStatusRunning = 0,
    kStatusSuccess = 1,       // 200 to 299
    kStatusHTTPError = 2,     // 300 and up; the body is still read
    kStatusNetworkError = 3,  // see networkError()
    kStatusCancelled = 4,
  };
  // Bytes asked of the stream per read.
  static constexpr std::size_t kReadBytes = 16 * 1024;
  static constexpr double kDefaultTimeoutSeconds = 8.0;

  static std::shared_ptr<HTTPCommand> postCommandWithURL(std::string url);
  static std::shared_ptr<HTTPCommand> getCommandWithURL(std::string url);
  HTTPCommand(std::string url, std::string verb, Private);
  ~HTTPCommand();
  HTTPCommand(const HTTPCommand&) = delete;
  HTTPCommand& operator=(const HTTPCommand&) = delete;

  // Before sending.
  void setRequest(std::shared_ptr<RequestBody> body) { request_ = std::move(body); }
  // Receives the upload percentage on the main queue.
  void setUploadProgressBlock(ProgressBlock block) { uploadProgressBlock_ = std::move(block); }
  // On (the default): the connection may be kept for the next transfer to
  // the same origin. Off: "Connection: close" is sent and the connection
  // ends with the transfer.
  void setUsePersistentConnection(bool persistent) { usePersistentConnection_ = persistent; }
  // Seconds without any progress (connecting, sending or receiving) after
  // which the transfer fails with kHTTPCommandErrorTimedOut.
  void setTimeout(double seconds) { timeout_ = seconds; }
  HTTPHeaders& requestHeaders() noexcept { return requestHeaders_; }
  const std::string& url() const noexcept { return url_; }

  // sendInBackground, then waitUntilFinished.
  void send();
  // Starts the transfer on the network thread and returns at once. Once only.
  void sendInBackground();
  // Blocks until the command has finished.
  void waitUntilFinished();
  // From any thread: while running, the status becomes cancelled and the
  // command finishes (on the network thread) without waiting for its peer.
  void cancel();

  bool isFinished() const;
  Status status() const noexcept { return static_cast<Status>(status_.load()); }
  std::optional<platform::Error> networkError() const;
  // Read once the command has finished.
  HTTPResponse& response() noexcept { return response_; }

 private:
  // Network thread.
  void start();
  void openConnection();
  void connected(std::error_code error, std::unique_ptr<ByteStream> stream);
  // A kept-alive connection that the server closed while it was idle fails
  // before any answer: the request goes again once, on a new connection,
  // unless body bytes were already taken from a stream.
  bool mayRetryOnNewConnection() const;
  void retryOnNewConnection();
  void writeNext();
  void wrote(std::error_code error, std::size_t count);
  void reportUploadProgress(int percent);
  void readNext();
  void didRead(std::error_code error, std::size_t count);
  void streamFailed(std::error_code error);
  void endEncountered();
  void resetTimeoutTimer();
  void finishWithError(platform::Error error);
  void finishWithHTTPStatus();
  void didFinish();
  bool stopped() const;

  const std::string url_;
  HTTPHeaders requestHeaders_ = HTTPHeaders::request();
  std::shared_ptr<RequestBody> request_;
  ProgressBlock uploadProgressBlock_;
  std::atomic<bool> usePersistentConnection_{true};
  double timeout_ = kDefaultTimeoutSeconds;
  HTTPResponse response_;

  // Guards the status change and the network error.
  mutable std::mutex monitor_;
  std::atomic<int> status_{kStatusRunning};
  std::atomic<bool> isCancelled_{false};
  std::optional<platform::Error> networkError_;
  mutable std::mutex doneMutex_;
  std::condition_variable doneCondition_;
  bool isFinished_ = false;
  bool sent_ = false;

  // The command itself while it runs, so it outlives its callers'
  // references; under the monitor.
  std::shared_ptr<HTTPCommand> referenceCycleToPreventZombification_;
  // Network thread only.
  std::shared_ptr<HTTPCommandDelegate> delegate_;
  std::unique_ptr<ByteStream> stream_;
  asio::steady_timer timeoutTimer_;
  // Completions of an earlier connection's operations are ignored.
  std::uint64_t connectionSerial_ = 0;
  bool reusedConnection_ = false;
  bool receivedResponseBytes_ = false;
  bool bodyStarted_ = false;
  std::string requestHeaderData_;
  std::uint64_t bytesUploaded_ = 0;
  bool sentRequestHeaders_ = false;
  bool uploadComplete_ = false;
  int uploadPercent_ = 0;
  bool isNetworkActive_ = false;
  bool tornDown_ = false;
  std::array<char, kReadBytes> readBuffer_{};
};

}  // namespace backend::net
