#include "http_command.hpp"

#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/ssl/error.hpp>

#include <chrono>

#include "networking_utils.hpp"
#include "platform/exceptions.hpp"
#include "platform/executor.hpp"
#include "platform/log.hpp"

namespace backend::net {
namespace {

platform::Error transportError(HTTPCommandErrorCode code, const std::string& message) {
  return platform::makeError(kHTTPCommandErrorDomain, code, message);
}

platform::Error streamError(const std::error_code& error) {
  if (error.category() == std::system_category() || error.category() == std::generic_category())
    return platform::makeError("NSPOSIXErrorDomain", error.value(), error.message());
  return platform::makeError(kHTTPCommandErrorDomain + std::string(".") + error.category().name(), error.value(),
                             error.message());
}

bool isEndOfStream(const std::error_code& error) {
  // A TLS peer that closes without saying so has still ended the stream.
  return error == asio::error::eof || error == asio::ssl::error::stream_truncated;
}

}  // namespace

std::shared_ptr<HTTPCommand> HTTPCommand::postCommandWithURL(std::string url) {
  return std::make_shared<HTTPCommand>(std::move(url), "POST", Private{});
}

std::shared_ptr<HTTPCommand> HTTPCommand::getCommandWithURL(std::string url) {
  return std::make_shared<HTTPCommand>(std::move(url), "GET", Private{});
}

HTTPCommand::HTTPCommand(std::string url, std::string verb, Private)
    : url_(std::move(url)), timeoutTimer_(NetworkThread::shared().context()) {
  requestHeaders_.setVerb(std::move(verb));
}

HTTPCommand::~HTTPCommand() = default;

void HTTPCommand::send() {
  sendInBackground();
  waitUntilFinished();
}

void HTTPCommand::sendInBackground() {
  {
    std::lock_guard lock(doneMutex_);
    if (sent_) throw platform::InternalInconsistencyException("An HTTP command is sent once");
    sent_ = true;
  }
  if (!usePersistentConnection_) requestHeaders_.addHeader("Connection", "close");
  requestHeaderData_ = requestHeaders_.compileRequest(url_, request_.get());
  {
    // With the status, so that a cancel cannot slip between the check and
    // the reference that its teardown drops.
    std::lock_guard lock(monitor_);
    if (status() != kStatusRunning) return;  // cancelled before it was sent
    referenceCycleToPreventZombification_ = shared_from_this();
  }
  asio::post(NetworkThread::shared().context(), [self = shared_from_this()] { self->start(); });
}

void HTTPCommand::waitUntilFinished() {
  if (NetworkThread::shared().isCurrent())
    throw platform::InternalInconsistencyException("An HTTP command cannot wait on the network thread");
  std::unique_lock lock(doneMutex_);
  doneCondition_.wait(lock, [this] { return isFinished_; });
}

void HTTPCommand::cancel() {
  {
    std::lock_guard lock(monitor_);
    if (status() != kStatusRunning || isFinished()) return;
    isCancelled_ = true;
    status_ = kStatusCancelled;
  }
  asio::post(NetworkThread::shared().context(), [self = shared_from_this()] { self->didFinish(); });
}

bool HTTPCommand::isFinished() const {
  std::lock_guard lock(doneMutex_);
  return isFinished_;
}

std::optional<platform::Error> HTTPCommand::networkError() const {
  std::lock_guard lock(monitor_);
  return networkError_;
}

bool HTTPCommand::stopped() const { return tornDown_ || isCancelled_; }

void HTTPCommand::start() {
  if (stopped()) return;
  isNetworkActive_ = true;
  setNetworkActivityIndicatorVisible(true);
  resetTimeoutTimer();
  auto endpoint = endpointForURL(url_);
  if (!endpoint || (endpoint->scheme != "http" && endpoint->scheme != "https")) {
    return finishWithError(transportError(kHTTPCommandErrorBadURL, "Unsupported URL: " + url_));
  }
  delegate_ = HTTPCommandDelegate::delegateForURL(url_);
  if (usePersistentConnection_) {
    if (auto idle = delegate_->takeIdle(url_)) {
      reusedConnection_ = true;
      return connected({}, std::move(idle));
    }
  }
  openConnection();
}

void HTTPCommand::openConnection() {
  delegate_->connect(url_, [self = shared_from_this()](std::error_code error, std::unique_ptr<ByteStream> stream) {
    self->connected(error, std::move(stream));
  });
}

void HTTPCommand::connected(std::error_code error, std::unique_ptr<ByteStream> stream) {
  if (stopped()) {
    if (stream) stream->close();
    return;
  }
  if (error || !stream) return finishWithError(streamError(error));
  stream_ = std::move(stream);
  ++connectionSerial_;
  resetTimeoutTimer();
  writeNext();
  readNext();
}

bool HTTPCommand::mayRetryOnNewConnection() const {
  return reusedConnection_ && !receivedResponseBytes_ && !bodyStarted_;
}

void HTTPCommand::retryOnNewConnection() {
  reusedConnection_ = false;
  ++connectionSerial_;  // the old stream's aborted operations report to nobody
  stream_->close();
  stream_.reset();
  requestHeaderData_ = requestHeaders_.compileRequest(url_, request_.get());
  bytesUploaded_ = 0;
  sentRequestHeaders_ = false;
  uploadComplete_ = false;
  openConnection();
}

void HTTPCommand::streamFailed(std::error_code error) {
  if (mayRetryOnNewConnection()) return retryOnNewConnection();
  finishWithError(streamError(error));
}

void HTTPCommand::writeNext() {
  auto wrote = [self = shared_from_this(), serial = connectionSerial_](std::error_code error, std::size_t count) {
    if (serial == self->connectionSerial_) self->wrote(error, count);
  };
  if (!sentRequestHeaders_) {
    return stream_->writeSome(requestHeaderData_.data() + bytesUploaded_, requestHeaderData_.size() - bytesUploaded_,
                              std::move(wrote));
  }
  const std::uint64_t total = request_ ? request_->length() : 0;
  if (bytesUploaded_ >= total) {
    uploadComplete_ = true;
    if (uploadPercent_ != 100) reportUploadProgress(100);
    return;
  }
  bodyStarted_ = true;
  auto bytes = request_->bufferPart(bytesUploaded_);
  if (!bytes || bytes->empty()) {
    return finishWithError(transportError(kHTTPCommandErrorBodyEndedEarly,
                                          "The request body ended before its announced length"));
  }
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(bytes->size(), total - bytesUploaded_));
  stream_->writeSome(bytes->data(), count, std::move(wrote));
}

void HTTPCommand::wrote(std::error_code error, std::size_t count) {
  if (stopped()) return;
  if (error) return streamFailed(error);
  resetTimeoutTimer();
  bytesUploaded_ += count;
  if (!sentRequestHeaders_) {
    if (bytesUploaded_ == requestHeaderData_.size()) {
      std::string().swap(requestHeaderData_);
      bytesUploaded_ = 0;
      sentRequestHeaders_ = true;
    }
    return writeNext();
  }
  const std::uint64_t total = request_->length();
  const int percent = static_cast<int>(bytesUploaded_ * 100 / total);
  if (percent > uploadPercent_) reportUploadProgress(percent);
  writeNext();
}

void HTTPCommand::reportUploadProgress(int percent) {
  uploadPercent_ = percent;
  if (!uploadProgressBlock_) return;
  platform::mainQueue().post([block = uploadProgressBlock_, percent] { block(percent); });
}

void HTTPCommand::readNext() {
  stream_->readSome(readBuffer_.data(), readBuffer_.size(),
                    [self = shared_from_this(), serial = connectionSerial_](std::error_code error, std::size_t count) {
                      if (serial == self->connectionSerial_) self->didRead(error, count);
                    });
}

void HTTPCommand::didRead(std::error_code error, std::size_t count) {
  if (stopped()) return;
  resetTimeoutTimer();
  if (error && mayRetryOnNewConnection()) return retryOnNewConnection();
  if (isEndOfStream(error)) return endEncountered();
  if (error) return finishWithError(streamError(error));
  receivedResponseBytes_ = true;
  if (response_.appendBytes(readBuffer_.data(), count) < 0) {
    return finishWithError(transportError(kHTTPCommandErrorMalformedResponse, "Malformed HTTP response"));
  }
  if (response_.done()) return finishWithHTTPStatus();
  readNext();
}

void HTTPCommand::endEncountered() {
  if (response_.finishAtEndOfStream()) return finishWithHTTPStatus();
  finishWithError(transportError(kHTTPCommandErrorConnectionLost, "The connection ended before the response was complete"));
}

void HTTPCommand::resetTimeoutTimer() {
  timeoutTimer_.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(timeout_)));
  timeoutTimer_.async_wait([self = shared_from_this()](std::error_code error) {
    // A wait that expired just before the timer was re-armed still runs:
    // only a deadline that has really passed ends the transfer.
    if (error || self->stopped() || self->timeoutTimer_.expiry() > std::chrono::steady_clock::now()) return;
    self->finishWithError(transportError(kHTTPCommandErrorTimedOut, "The request timed out."));
  });
}

void HTTPCommand::finishWithError(platform::Error error) {
  {
    std::lock_guard lock(monitor_);
    if (status() != kStatusRunning) return;
    networkError_ = error;
    status_ = kStatusNetworkError;
  }
  platform::log("Encountered stream error: " + error.description());
  didFinish();
}

void HTTPCommand::finishWithHTTPStatus() {
  {
    std::lock_guard lock(monitor_);
    if (status() != kStatusRunning) return;
    const int code = response_.headers().statusCode();
    if (code < 200) {
      platform::log("WARNING: unsupported (non-error) HTTP code " + std::to_string(code));
    } else {
      status_ = code <= 299 ? kStatusSuccess : kStatusHTTPError;
    }
  }
  didFinish();
}

void HTTPCommand::didFinish() {
  if (tornDown_) return;
  tornDown_ = true;
  if (isNetworkActive_) {
    setNetworkActivityIndicatorVisible(false);
    isNetworkActive_ = false;
  }
  timeoutTimer_.cancel();
  if (stream_) {
    const Status finalStatus = status();
    const bool reusable = (finalStatus == kStatusSuccess || finalStatus == kStatusHTTPError) &&
                          usePersistentConnection_ && uploadComplete_ && response_.allowsReuse();
    if (reusable) {
      delegate_->recycle(url_, std::move(stream_));
    } else {
      stream_->close();
      stream_.reset();
    }
  }
  response_.markFinished();
  uploadProgressBlock_ = nullptr;
  {
    std::lock_guard lock(doneMutex_);
    isFinished_ = true;
    doneCondition_.notify_all();
  }
  std::shared_ptr<HTTPCommand> self;
  {
    std::lock_guard lock(monitor_);
    self = std::move(referenceCycleToPreventZombification_);
  }
}  // `self` may be the last reference

}  // namespace backend::net
