#include "http_response.hpp"

#include <charconv>

#include "networking_utils.hpp"
#include "platform/exceptions.hpp"
#include "platform/executor.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"

namespace backend::net {
namespace {

// A body announced larger than this still arrives, but memory for it is not
// reserved up front on the server's word.
constexpr std::int64_t kMaxReservedBodyBytes = 16 * 1024 * 1024;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

std::filesystem::path temporaryBodyPath(const void* response) {
  char text[32];
  auto end = std::to_chars(text, text + sizeof text, reinterpret_cast<std::uintptr_t>(response), 16).ptr;
  return platform::Sandbox::tmp() / ("BEHTTPCommand0x" + std::string(text, end));
}

}  // namespace

// ---- Plain body ---------------------------------------------------------------

std::int64_t HTTPResponseBody::appendBytes(const char* bytes, std::size_t length) {
  if (response_.parseError()) return -1;
  const std::uint64_t before = bytesWritten_;
  std::size_t take = length;
  if (expectedLength_ >= 0) {
    const auto remaining = static_cast<std::uint64_t>(expectedLength_) - bytesWritten_;
    if (take > remaining) {
      take = static_cast<std::size_t>(remaining);
      excessBytes_ = true;
    }
  }
  if (take > 0) write(bytes, take);
  maybeReportDownloadProgress(before);
  return response_.parseError() ? -1 : static_cast<std::int64_t>(length);
}

bool HTTPResponseBody::done() const {
  return expectedLength_ >= 0 && bytesWritten_ == static_cast<std::uint64_t>(expectedLength_);
}

void HTTPResponseBody::write(const char* bytes, std::size_t length) {
  if (response_.writeBody(std::string_view(bytes, length))) {
    response_.setParseError();
    return;
  }
  bytesWritten_ += length;
}

void HTTPResponseBody::maybeReportDownloadProgress(std::uint64_t before) {
  if (expectedLength_ < 1 || !response_.progressBlock()) return;
  const auto expected = static_cast<std::uint64_t>(expectedLength_);
  const int oldPercent = static_cast<int>(before * 100 / expected);
  const int newPercent = static_cast<int>(bytesWritten_ * 100 / expected);
  if (newPercent == oldPercent) return;
  platform::mainQueue().post([block = response_.progressBlock(), newPercent] { block(newPercent); });
}

// ---- Chunked body -------------------------------------------------------------

std::int64_t HTTPChunkedResponseBody::appendBytes(const char* bytes, std::size_t length) {
  if (response_.parseError()) return -1;
  const std::string_view input(bytes, length);
  std::size_t at = 0;
  while (at < input.size() && !response_.parseError()) {
    if (done()) {
      excessBytes_ = true;
      break;
    }
    if (expectingCRLF_) {
      at = parseCRLF(input, at);
    } else if (expectingData_) {
      at = parseData(input, at);
    } else {
      at = parseSizeLine(input, at);
    }
  }
  return response_.parseError() ? -1 : static_cast<std::int64_t>(length);
}

std::size_t HTTPChunkedResponseBody::parseSizeLine(std::string_view input, std::size_t at) {
  for (; at < input.size(); ++at) {
    const char c = input[at];
    if (c == '\r' && sizeDigits_ > 0) {
      // The CR stays for the CR LF step.
      sizeDigits_ = 0;
      expectingCRLF_ = true;
      expectingData_ = true;
      return at;
    }
    const int digit = hexDigit(c);
    if (digit < 0 || ++sizeDigits_ > kMaxSizeDigits) {
      response_.setParseError();
      return input.size();
    }
    chunkBytesLeft_ = chunkBytesLeft_ * 16 + static_cast<std::uint64_t>(digit);
  }
  return at;
}

std::size_t HTTPChunkedResponseBody::parseCRLF(std::string_view input, std::size_t at) {
  if (!sawCR_) {
    if (input[at] != '\r') {
      response_.setParseError();
      return input.size();
    }
    sawCR_ = true;
    if (++at == input.size()) return at;
  }
  if (input[at] != '\n') {
    response_.setParseError();
    return input.size();
  }
  sawCR_ = false;
  expectingCRLF_ = false;
  if (expectingData_ && chunkBytesLeft_ == 0) chunkHeaderDone();
  return at + 1;
}

// The zero-size chunk: only its closing CR LF may follow.
void HTTPChunkedResponseBody::chunkHeaderDone() {
  expectingData_ = false;
  reachedTerminatorChunk_ = true;
  expectingCRLF_ = true;
}

std::size_t HTTPChunkedResponseBody::parseData(std::string_view input, std::size_t at) {
  const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(chunkBytesLeft_, input.size() - at));
  write(input.data() + at, count);
  chunkBytesLeft_ -= count;
  if (chunkBytesLeft_ == 0) {
    expectingData_ = false;
    expectingCRLF_ = true;
  }
  return at + count;
}

// ---- Response -----------------------------------------------------------------

HTTPResponse::HTTPResponse() = default;

HTTPResponse::~HTTPResponse() {
  if (fileStream_) fileStream_->close();
  if (tempFilePath_) {
    std::error_code ignored;
    std::filesystem::remove(*tempFilePath_, ignored);
  }
}

void HTTPResponse::streamBodyToPath(std::filesystem::path target) {
  if (body_) throw platform::InternalInconsistencyException("Must decide body storage method before creating response body");
  memory_.clear();
  tempFilePath_ = temporaryBodyPath(this);
  fileStream_ = std::make_unique<http::FileOutputStream>(tempFilePath_->string());
  targetFilePath_ = std::move(target);
}

std::int64_t HTTPResponse::appendBytes(const char* bytes, std::size_t length) {
  if (parseError_) return -1;
  std::size_t headerBytes = 0;
  if (!headers_.complete()) {
    const std::int64_t taken = headers_.appendBytes(bytes, length);
    if (taken < 0) {
      platform::log("Malformed HTTP response header!");
      parseError_ = true;
      return -1;
    }
    if (!headers_.complete()) return static_cast<std::int64_t>(length);
    createBody();
    if (parseError_) return -1;
    headerBytes = static_cast<std::size_t>(taken);
  }
  if (length > headerBytes) body_->appendBytes(bytes + headerBytes, length - headerBytes);
  if (parseError_) return -1;
  if (body_->done()) bodyCompleted();
  return static_cast<std::int64_t>(length);
}

void HTTPResponse::createBody() {
  if (!headers_.complete()) {
    throw platform::InternalInconsistencyException("Do not know which body to create until the headers are formed");
  }
  if (headers_.parseError()) throw platform::InternalInconsistencyException("Error forming response");
  const auto encoding = headers_.allHeaders().get("Transfer-Encoding");
  if (encoding && *encoding == "chunked") {
    body_ = std::make_unique<HTTPChunkedResponseBody>(*this);
  } else {
    body_ = std::make_unique<HTTPResponseBody>(*this, headers_.contentLength());
  }
  if (fileStream_) {
    if (auto error = fileStream_->open()) {
      platform::log("Could not open HTTP response body file " + tempFilePath_->string() + ": " + error.message());
      parseError_ = true;
    }
  } else if (headers_.contentLength() > 0) {
    memory_.reserve(static_cast<std::size_t>(std::min(headers_.contentLength(), kMaxReservedBodyBytes)));
  }
}

std::error_code HTTPResponse::writeBody(std::string_view bytes) {
  if (!fileStream_) {
    memory_.append(bytes);
    return {};
  }
  return fileStream_->write(bytes);
}

bool HTTPResponse::done() const { return body_ && !parseError_ && body_->done(); }

bool HTTPResponse::finishAtEndOfStream() {
  endedWithStream_ = true;
  if (!body_ || parseError_) return false;
  if (body_->done()) return true;
  const bool delimitedByStream =
      body_->expectedLength() < 0 && dynamic_cast<HTTPChunkedResponseBody*>(body_.get()) == nullptr;
  if (delimitedByStream) bodyCompleted();
  return delimitedByStream;
}

bool HTTPResponse::allowsReuse() const {
  if (!done() || endedWithStream_ || body_->hasExcessBytes()) return false;
  if (!startsWith(headers_.getStatusLine(), "HTTP/1.1")) return false;
  const auto connection = headers_.allHeaders().get("Connection");
  return !connection || connection->find("close") == std::string::npos;
}

void HTTPResponse::bodyCompleted() {
  if (!fileStream_ || bodyCompleted_) return;
  bodyCompleted_ = true;
  fileStream_->close();
  const int status = headers_.statusCode();
  if (status >= 200 && status <= 299) moveIntoPlace();
}

void HTTPResponse::moveIntoPlace() {
  std::error_code error;
  std::filesystem::rename(*tempFilePath_, *targetFilePath_, error);
  if (error) {
    platform::log("Could not save HTTP response body to " + targetFilePath_->string() + ": " + error.message());
    return;
  }
  movedIntoPlace_ = true;
  tempFilePath_.reset();
}

std::string HTTPResponse::responseData() const {
  if (!fileStream_) return memory_;
  const auto& path = movedIntoPlace_ ? targetFilePath_ : tempFilePath_;
  if (!path) return std::string();
  return platform::readFile(*path).value_or(std::string());
}

std::optional<std::string> HTTPResponse::responseString() const {
  if (!finished_ && !done()) {
    throw platform::InternalInconsistencyException("Cannot get responseString before the network command finishes");
  }
  const std::string& type = headers_.contentType();
  const bool textual = startsWith(type, "text/") || startsWith(type, "application/json") ||
                       startsWith(type, "application/html") || startsWith(type, "application/xml");
  if (!textual) return std::nullopt;
  return stringWithUTF8Data(responseData());
}

}  // namespace backend::net
