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
#include "backend/http/output_stream.hpp"
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
  // Where the body goes (memory unless set; nullptr means memory). Only
  // before the operation first starts; later raises
  // InternalInconsistencyException. A stream that cannot be opened or
  // written fails the operation with -3000 or -3003 (URL-loading domain).
  void setOutputStream(std::unique_ptr<OutputStream> stream);
  // The body once loading finished (empty before, and for a file stream).
  std::string responseData() const;
  // The body decoded with the response's charset (UTF-8 when it names none);
  // empty without a response or data.
  std::string responseString() const;
  long long totalBytesRead() const;

  void setDownloadProgressBlock(ProgressBlock block);
  void setUploadProgressBlock(ProgressBlock block);

 protected:
  // Called on the network thread when the response head arrives, under the
  // lock, with the output stream open. The default rewinds the stream.
  virtual void didReceiveResponse(const URLResponse& response);
  // The output stream's offset (for resumption).
  std::uint64_t bytesWritten() const;
  // Empties the output stream; a failure fails the operation.
  void rewindOutputStream();
  void setRequest(URLRequest request);
  std::recursive_mutex& lock() const { return mutex_; }

 private:
  friend class ConnectionDelegateAdapter;
  void setState(OperationState state);
  void operationDidStart();
  void cancelConnection(bool deliverCancellationError);
  // Events of transfer attempt `attempt`; kAnyAttempt for the operation's
  // own (cancellation, stream failure). Called on the network thread.
  static constexpr std::uint64_t kAnyAttempt = UINT64_MAX;
  bool isCurrent(std::uint64_t attempt) const;
  void onResponse(std::uint64_t attempt, URLResponse response);
  void onData(std::uint64_t attempt, std::string_view bytes);
  void onUploadProgress(std::uint64_t attempt, long long written, long long totalWritten, long long expected);
  void onFinished(std::uint64_t attempt);
  void onFailed(std::uint64_t attempt, platform::Error error);
  // Stops the transfer and finishes with `error` (once).
  void abortWithStreamError(std::int64_t code, std::error_code cause);

  mutable std::recursive_mutex mutex_;
  OperationState state_ = OperationState::Ready;
  std::uint64_t attempt_ = 0;  // advanced by every pause
  URLRequest request_;
  std::optional<URLResponse> response_;
  std::optional<platform::Error> error_;
  std::unique_ptr<OutputStream> output_;
  std::optional<platform::Error> streamError_;
  std::string responseData_;
  mutable std::optional<std::string> responseString_;
  long long totalBytesRead_ = 0;
  std::shared_ptr<Connection> connection_;
  ProgressBlock downloadProgress_;
  ProgressBlock uploadProgress_;
};

}  // namespace backend::http
