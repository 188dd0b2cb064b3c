#pragma once
// An operation that runs one URL request on the shared network thread and
// collects the response body in memory.
//
// State machine: ready -> executing (start) -> finished (load done, failure,
// cancellation); ready -> finished only when cancelled; executing/ready ->
// paused -> ready (resume). Disallowed transitions are ignored. Entering
// executing posts "com.backend.networking.operation.start" and entering
// finished "com.backend.networking.operation.finish" on the default
// notification centre, with the operation as object.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "backend/http/operation.hpp"
#include "backend/http/url_request.hpp"
#include "platform/error.hpp"

namespace backend::http {

inline constexpr const char* kOperationDidStartNotification = "com.backend.networking.operation.start";
inline constexpr const char* kOperationDidFinishNotification = "com.backend.networking.operation.finish";

enum class OperationState : std::int16_t { Paused = -1, Ready = 1, Executing = 2, Finished = 3 };

class Connection;

class URLConnectionOperation : public Operation {
 public:
  // (bytes in this chunk, total so far, expected total or -1). Called on the
  // network thread.
  using ProgressBlock = std::function<void(std::uint64_t, long long, long long)>;

  static std::shared_ptr<URLConnectionOperation> create(URLRequest request);
  explicit URLConnectionOperation(URLRequest request);
  ~URLConnectionOperation() override;

  void start() override;
  // Finishes the operation with the error -999 (URL-loading domain); the
  // completion block still runs, success and failure blocks do not.
  void cancel() override;
  // Stops the transfer and keeps the bytes; resume() starts it again.
  virtual void pause();
  void resume();

  OperationState state() const;
  bool isReady() const;
  bool isExecuting() const override;
  bool isFinished() const override;
  bool isPaused() const;
  bool isConcurrent() const noexcept { return true; }

  URLRequest request() const;
  std::optional<URLResponse> response() const;
  // The transfer error (the HTTP subclasses add their judgement).
  virtual std::optional<platform::Error> error() const;
  // The body once loading finished (empty before).
  std::string responseData() const;
  // The body decoded with the response's charset (UTF-8 when it names none);
  // empty without a response or data.
  std::string responseString() const;
  long long totalBytesRead() const;

  void setDownloadProgressBlock(ProgressBlock block);
  void setUploadProgressBlock(ProgressBlock block);

 protected:
  // Called on the network thread when the response head arrives, under the
  // lock. The default replaces a body buffer that already holds bytes.
  virtual void didReceiveResponse(const URLResponse& response);
  // The body bytes written so far (for resumption).
  std::uint64_t bytesWritten() const;
  void discardWrittenBytes();
  void setRequest(URLRequest request);
  std::recursive_mutex& lock() const { return mutex_; }

 private:
  friend class ConnectionDelegateAdapter;
  void setState(OperationState state);
  void operationDidStart();
  void cancelConnection(bool deliverCancellationError);
  void onResponse(URLResponse response);
  void onData(std::string_view bytes);
  void onUploadProgress(long long written, long long totalWritten, long long expected);
  void onFinished();
  void onFailed(platform::Error error);

  mutable std::recursive_mutex mutex_;
  OperationState state_ = OperationState::Ready;
  URLRequest request_;
  std::optional<URLResponse> response_;
  std::optional<platform::Error> error_;
  std::string buffer_;
  std::string responseData_;
  mutable std::optional<std::string> responseString_;
  long long totalBytesRead_ = 0;
  std::shared_ptr<Connection> connection_;
  ProgressBlock downloadProgress_;
  ProgressBlock uploadProgress_;
};

}  // namespace backend::http
