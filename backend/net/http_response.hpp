#pragma once
// The response of one transfer: its header block, then its body (plain, or
// chunked), written to memory or streamed to a file. Fed on the network
// thread; read by the command's caller once the command has finished.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "backend/http/output_stream.hpp"
#include "http_headers.hpp"

namespace backend::net {

class HTTPResponse;

// Receives a percentage (0 to 100) on the main queue.
using ProgressBlock = std::function<void(int percent)>;

// A plain body: the bytes as they come, up to the announced length.
class HTTPResponseBody {
 public:
  HTTPResponseBody(HTTPResponse& response, std::int64_t expectedLength)
      : response_(response), expectedLength_(expectedLength) {}
  virtual ~HTTPResponseBody() = default;

  // Takes body bytes; answers `length`, or -1 once the response has a parse
  // error.
  virtual std::int64_t appendBytes(const char* bytes, std::size_t length);
  // True once every announced byte has arrived (never without a length).
  virtual bool done() const;
  // True when bytes arrived beyond the body's end.
  bool hasExcessBytes() const noexcept { return excessBytes_; }
  std::int64_t expectedLength() const noexcept { return expectedLength_; }
  std::uint64_t bytesWritten() const noexcept { return bytesWritten_; }

 protected:
  // Writes to the response's storage; a failed write is a parse error.
  void write(const char* bytes, std::size_t length);
  void maybeReportDownloadProgress(std::uint64_t before);

  HTTPResponse& response_;
  std::int64_t expectedLength_;
  std::uint64_t bytesWritten_ = 0;
  bool excessBytes_ = false;
};

// A "Transfer-Encoding: chunked" body: hexadecimal size lines, data, CR LF,
// up to the zero-size chunk and its closing CR LF (no trailers).
class HTTPChunkedResponseBody final : public HTTPResponseBody {
 public:
  explicit HTTPChunkedResponseBody(HTTPResponse& response) : HTTPResponseBody(response, -1) {}
  std::int64_t appendBytes(const char* bytes, std::size_t length) override;
  bool done() const override { return reachedTerminatorChunk_ && !expectingCRLF_; }

 private:
  // Each consumes what it can of `input` from `at` and answers the new
  // position; a size line or a CR LF cut by the end of an input carries its
  // progress in the members below, so no input is ever copied.
  std::size_t parseSizeLine(std::string_view input, std::size_t at);
  std::size_t parseCRLF(std::string_view input, std::size_t at);
  std::size_t parseData(std::string_view input, std::size_t at);
  void chunkHeaderDone();

  // Sizes of more hexadecimal digits than this do not fit 60 bits.
  static constexpr int kMaxSizeDigits = 15;

  bool reachedTerminatorChunk_ = false;
  bool expectingCRLF_ = false;
  bool expectingData_ = false;
  bool sawCR_ = false;
  int sizeDigits_ = 0;
  std::uint64_t chunkBytesLeft_ = 0;
};

class HTTPResponse {
 public:
  HTTPResponse();
  // Removes a temporary body file that was never moved into place.
  ~HTTPResponse();
  HTTPResponse(const HTTPResponse&) = delete;
  HTTPResponse& operator=(const HTTPResponse&) = delete;

  // Writes the body to a temporary file, moved to `target` once the body is
  // complete and the status is 2xx (an error page never takes the target's
  // place). Raises InternalInconsistencyException "Must decide body storage
  // method before creating response body" once the body has begun.
  void streamBodyToPath(std::filesystem::path target);
  void setProgressBlock(ProgressBlock block) { progressBlock_ = std::move(block); }
  const ProgressBlock& progressBlock() const noexcept { return progressBlock_; }
  const HTTPHeaders& headers() const noexcept { return headers_; }

  // Feeds received bytes; answers `length`, or -1 for a malformed header or
  // body (parseError() is then set).
  std::int64_t appendBytes(const char* bytes, std::size_t length);
  // True once the body is complete (by length or by its last chunk).
  bool done() const;
  // The connection ended: true when that completes the response (a plain
  // body without a length ends with its connection).
  bool finishAtEndOfStream();
  // True when the connection may carry another request: the body ended by
  // itself, nothing followed it, and the server did not ask to close.
  bool allowsReuse() const;

  // The body bytes: from memory, the target file or the temporary file.
  std::string responseData() const;
  // The body as text for textual content types ("text/...",
  // "application/json", "application/html", "application/xml"): the UTF-8
  // up to the first NUL, nullopt for invalid UTF-8 or other types. Raises
  // InternalInconsistencyException "Cannot get responseString before the
  // network command finishes" while the response is still open.
  std::optional<std::string> responseString() const;
  bool parseError() const noexcept { return parseError_; }
  // Where the body bytes still sit when they were not moved into place.
  const std::optional<std::filesystem::path>& tempFilePath() const noexcept { return tempFilePath_; }
  const std::optional<std::filesystem::path>& targetFilePath() const noexcept { return targetFilePath_; }

  // For the body objects.
  std::error_code writeBody(std::string_view bytes);
  void setParseError() noexcept { parseError_ = true; }
  // Marks the response as read to its end (by its command).
  void markFinished() noexcept { finished_ = true; }

 private:
  void createBody();
  void bodyCompleted();
  void moveIntoPlace();

  HTTPHeaders headers_ = HTTPHeaders::response();
  std::unique_ptr<HTTPResponseBody> body_;
  ProgressBlock progressBlock_;
  std::string memory_;
  std::unique_ptr<http::FileOutputStream> fileStream_;
  std::optional<std::filesystem::path> tempFilePath_;
  std::optional<std::filesystem::path> targetFilePath_;
  bool parseError_ = false;
  bool endedWithStream_ = false;
  bool finished_ = false;
  bool bodyCompleted_ = false;
  bool movedIntoPlace_ = false;
};

}  // namespace backend::net
