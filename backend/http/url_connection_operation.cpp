#include "backend/http/url_connection_operation.hpp"

#include "connection.hpp"
#include "platform/exceptions.hpp"
#include "platform/notification_center.hpp"

namespace backend::http {

// Forwards one attempt's connection events to the operation, which drops
// those of an attempt that a pause has ended; holds the operation alive while
// the transfer runs.
class ConnectionDelegateAdapter final : public ConnectionDelegate {
 public:
  ConnectionDelegateAdapter(std::shared_ptr<URLConnectionOperation> operation, std::uint64_t attempt)
      : operation_(std::move(operation)), attempt_(attempt) {}
  void connectionDidReceiveResponse(URLResponse response) override {
    operation_->onResponse(attempt_, std::move(response));
  }
  void connectionDidReceiveData(std::string_view bytes) override { operation_->onData(attempt_, bytes); }
  void connectionDidSendBodyData(long long written, long long totalWritten, long long expected) override {
    operation_->onUploadProgress(attempt_, written, totalWritten, expected);
  }
  void connectionDidFinishLoading() override { operation_->onFinished(attempt_); }
  void connectionDidFail(platform::Error error) override { operation_->onFailed(attempt_, std::move(error)); }

 private:
  std::shared_ptr<URLConnectionOperation> operation_;
  std::uint64_t attempt_;
};

namespace {

bool transitionAllowed(OperationState from, OperationState to, bool cancelled) {
  switch (from) {
    case OperationState::Ready:
      return to == OperationState::Executing || to == OperationState::Paused ||
             (to == OperationState::Finished && cancelled);
    case OperationState::Executing:
      return to == OperationState::Paused || to == OperationState::Finished;
    case OperationState::Paused:
      // Cancelling a paused operation ends it: nothing would resume it.
      return to == OperationState::Ready || (to == OperationState::Finished && cancelled);
    case OperationState::Finished:
      return false;
  }
  return true;
}

}  // namespace

std::shared_ptr<URLConnectionOperation> URLConnectionOperation::create(URLRequest request) {
  return std::make_shared<URLConnectionOperation>(std::move(request));
}

URLConnectionOperation::URLConnectionOperation(URLRequest request)
    : request_(std::move(request)), output_(std::make_unique<MemoryOutputStream>()) {}

URLConnectionOperation::~URLConnectionOperation() = default;

void URLConnectionOperation::setState(OperationState state) {
  bool finished = false;
  {
    std::lock_guard lock(mutex_);
    if (!transitionAllowed(state_, state, isCancelled())) return;
    const OperationState previous = state_;
    state_ = state;
    auto self = std::static_pointer_cast<URLConnectionOperation>(shared_from_this());
    // "finish" pairs with "start": it is posted on leaving Executing (ending
    // or pausing), never for an operation that never ran.
    if (state == OperationState::Executing) {
      platform::NotificationCenter::defaultCenter().post(kOperationDidStartNotification, self);
    } else if (previous == OperationState::Executing) {
      platform::NotificationCenter::defaultCenter().post(kOperationDidFinishNotification, self);
    }
    finished = state == OperationState::Finished;
  }
  if (finished) markFinished();
}

void URLConnectionOperation::start() {
  std::lock_guard lock(mutex_);
  if (state_ != OperationState::Ready) return;
  setState(OperationState::Executing);
  auto self = std::static_pointer_cast<URLConnectionOperation>(shared_from_this());
  performOnNetworkThread([self] { self->operationDidStart(); });
}

void URLConnectionOperation::operationDidStart() {
  std::unique_lock lock(mutex_);
  if (isCancelled()) {
    lock.unlock();
    setState(OperationState::Finished);
    return;
  }
  auto self = std::static_pointer_cast<URLConnectionOperation>(shared_from_this());
  connection_ = std::make_shared<Connection>(request_, std::make_shared<ConnectionDelegateAdapter>(self, attempt_));
  connection_->start();
}

void URLConnectionOperation::cancel() {
  std::lock_guard lock(mutex_);
  if (state_ == OperationState::Finished || isCancelled()) return;
  setCancelledFlag();
  auto self = std::static_pointer_cast<URLConnectionOperation>(shared_from_this());
  performOnNetworkThread([self] { self->cancelConnection(true); });
}

void URLConnectionOperation::cancelConnection(bool deliverCancellationError) {
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard lock(mutex_);
    connection = std::move(connection_);
  }
  if (connection) connection->cancel();
  if (!deliverCancellationError) return;
  platform::Dictionary info;
  info.set(kLocalizedDescriptionKey, "cancelled");
  info.set(kURLErrorFailingURLStringKey, request().url);
  onFailed(kAnyAttempt, platform::Error(kURLErrorDomain, kURLErrorCancelled, platform::Value(std::move(info))));
}

void URLConnectionOperation::pause() {
  std::lock_guard lock(mutex_);
  if (state_ == OperationState::Paused || state_ == OperationState::Finished || isCancelled()) return;
  setState(OperationState::Paused);
  if (state_ != OperationState::Paused) return;
  // Whatever the old transfer still reports must not touch the stream whose
  // offset the resumed request asks for.
  ++attempt_;
  auto self = std::static_pointer_cast<URLConnectionOperation>(shared_from_this());
  performOnNetworkThread([self] { self->cancelConnection(false); });
}

void URLConnectionOperation::resume() {
  std::lock_guard lock(mutex_);
  if (state_ != OperationState::Paused) return;
  setState(OperationState::Ready);
  start();
}

OperationState URLConnectionOperation::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}
bool URLConnectionOperation::isReady() const { return state() == OperationState::Ready; }
bool URLConnectionOperation::isExecuting() const { return state() == OperationState::Executing; }
bool URLConnectionOperation::isFinished() const { return state() == OperationState::Finished; }
bool URLConnectionOperation::isPaused() const { return state() == OperationState::Paused; }

URLRequest URLConnectionOperation::request() const {
  std::lock_guard lock(mutex_);
  return request_;
}

void URLConnectionOperation::setRequest(URLRequest request) {
  std::lock_guard lock(mutex_);
  request_ = std::move(request);
}

std::optional<URLResponse> URLConnectionOperation::response() const {
  std::lock_guard lock(mutex_);
  return response_;
}

std::optional<platform::Error> URLConnectionOperation::error() const {
  std::lock_guard lock(mutex_);
  return error_;
}

std::string URLConnectionOperation::responseData() const {
  std::lock_guard lock(mutex_);
  return responseData_;
}

std::string URLConnectionOperation::responseString() const {
  std::lock_guard lock(mutex_);
  if (!responseString_) {
    // Bodies are kept as bytes; every charset we meet on this road is UTF-8
    // or ASCII, which need no conversion.
    if (!response_ || responseData_.empty()) return std::string();
    responseString_ = responseData_;
  }
  return *responseString_;
}

long long URLConnectionOperation::totalBytesRead() const {
  std::lock_guard lock(mutex_);
  return totalBytesRead_;
}

void URLConnectionOperation::setDownloadProgressBlock(ProgressBlock block) {
  std::lock_guard lock(mutex_);
  downloadProgress_ = std::move(block);
}

void URLConnectionOperation::setUploadProgressBlock(ProgressBlock block) {
  std::lock_guard lock(mutex_);
  uploadProgress_ = std::move(block);
}

void URLConnectionOperation::setOutputStream(std::unique_ptr<OutputStream> stream) {
  std::lock_guard lock(mutex_);
  if (state_ != OperationState::Ready || response_) {
    throw platform::InternalInconsistencyException("The output stream can only be set before the operation starts");
  }
  output_ = stream ? std::move(stream) : std::make_unique<MemoryOutputStream>();
}

bool URLConnectionOperation::isCurrent(std::uint64_t attempt) const {
  return attempt == kAnyAttempt || attempt == attempt_;
}

std::uint64_t URLConnectionOperation::bytesWritten() const {
  std::lock_guard lock(mutex_);
  return output_->offset();
}

void URLConnectionOperation::rewindOutputStream() {
  std::lock_guard lock(mutex_);
  if (auto cause = output_->truncate(0)) abortWithStreamError(kURLErrorCannotWriteToFile, cause);
}

void URLConnectionOperation::didReceiveResponse(const URLResponse&) {
  // A fresh answer replaces whatever an earlier attempt wrote.
  rewindOutputStream();
}

void URLConnectionOperation::abortWithStreamError(std::int64_t code, std::error_code cause) {
  std::lock_guard lock(mutex_);
  if (streamError_) return;
  platform::Dictionary info;
  auto path = output_->filePath();
  info.set(kLocalizedDescriptionKey, (path ? "Cannot write to " + *path + ": " : std::string()) + cause.message());
  info.set(kURLErrorFailingURLStringKey, request_.url);
  if (path) info.set(kFilePathErrorKey, *path);
  streamError_ = platform::Error(kURLErrorDomain, code, platform::Value(std::move(info)));
  // We may be inside the transfer's own callback, where it cannot be
  // removed; the network thread does it next.
  auto self = std::static_pointer_cast<URLConnectionOperation>(shared_from_this());
  performOnNetworkThread([self, error = *streamError_] {
    self->cancelConnection(false);
    self->onFailed(kAnyAttempt, error);
  });
}

void URLConnectionOperation::onResponse(std::uint64_t attempt, URLResponse response) {
  std::lock_guard lock(mutex_);
  if (!isCurrent(attempt) || streamError_) return;
  if (auto cause = output_->open()) {
    abortWithStreamError(kURLErrorCannotCreateFile, cause);
    return;
  }
  didReceiveResponse(response);
  response_ = std::move(response);
}

void URLConnectionOperation::onData(std::uint64_t attempt, std::string_view bytes) {
  ProgressBlock progress;
  long long total = 0, expected = -1;
  {
    std::lock_guard lock(mutex_);
    if (!isCurrent(attempt) || streamError_) return;
    totalBytesRead_ += static_cast<long long>(bytes.size());
    if (auto cause = output_->write(bytes)) {
      abortWithStreamError(kURLErrorCannotWriteToFile, cause);
      return;
    }
    progress = downloadProgress_;
    total = totalBytesRead_;
    expected = response_ ? response_->expectedContentLength : -1;
  }
  if (progress) progress(bytes.size(), total, expected);
}

void URLConnectionOperation::onUploadProgress(std::uint64_t attempt, long long written, long long totalWritten,
                                              long long expected) {
  ProgressBlock progress;
  {
    std::lock_guard lock(mutex_);
    if (!isCurrent(attempt)) return;
    progress = uploadProgress_;
  }
  if (progress) progress(static_cast<std::uint64_t>(written), totalWritten, expected);
}

void URLConnectionOperation::onFinished(std::uint64_t attempt) {
  {
    std::lock_guard lock(mutex_);
    if (!isCurrent(attempt) || state_ == OperationState::Finished) return;
    // A stream failure in the transfer's last callback arrives here first.
    if (streamError_) error_ = streamError_;
    responseData_ = output_->data();
    output_->close();
    connection_.reset();
  }
  setState(OperationState::Finished);
}

void URLConnectionOperation::onFailed(std::uint64_t attempt, platform::Error error) {
  {
    std::lock_guard lock(mutex_);
    if (!isCurrent(attempt) || state_ == OperationState::Finished) return;
    error_ = std::move(error);
    responseData_ = output_->data();
    output_->close();
    connection_.reset();
  }
  setState(OperationState::Finished);
}

}  // namespace backend::http
