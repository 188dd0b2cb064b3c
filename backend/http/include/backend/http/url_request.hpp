#pragma once
// A request to send and the response head that came back.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace backend::http {

// Header fields in insertion order; names compare case-insensitively.
class HeaderFields {
 public:
  std::optional<std::string> get(std::string_view name) const;
  // Replaces a field of that name (keeping its place) or appends it.
  void set(std::string_view name, std::string value);
  void remove(std::string_view name);
  const std::vector<std::pair<std::string, std::string>>& all() const noexcept { return fields_; }

 private:
  std::vector<std::pair<std::string, std::string>> fields_;
};

// One pass over a streamed request body. Used on the network thread only.
class RequestBodyReader {
 public:
  virtual ~RequestBodyReader() = default;
  // Copies up to `capacity` bytes into `buffer`: the count, 0 at the end, or
  // nullopt when the source can no longer be read (the transfer then fails).
  virtual std::optional<std::size_t> read(char* buffer, std::size_t capacity) = 0;
};

// A request body that is read piece by piece while it is sent, so a large
// upload is not copied with every copy of the request. Immutable and shared
// by those copies; every attempt (a retry, a redirect) opens a fresh reader.
class RequestBodyStream {
 public:
  virtual ~RequestBodyStream() = default;
  // The exact number of bytes a reader yields.
  virtual std::uint64_t length() const = 0;
  // A reader at the first byte; never null.
  virtual std::unique_ptr<RequestBodyReader> open() const = 0;
};

struct URLRequest {
  std::string url;
  std::string method = "GET";
  HeaderFields headers;
  std::optional<std::string> body;
  // Sent when `body` is unset.
  std::shared_ptr<const RequestBodyStream> bodyStream;
  double timeoutInterval = 60.0;  // seconds
  bool shouldUsePipelining = false;
};

struct URLResponse {
  std::string url;
  long statusCode = 0;
  std::string mimeType;                     // lower case, without parameters
  std::optional<std::string> textEncodingName;  // the charset parameter
  long long expectedContentLength = -1;     // -1 when not announced
  HeaderFields headers;
};

// The error domain of transfer failures and response judgements, and the
// codes used in it.
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";
inline constexpr const char* kURLErrorFailingURLStringKey = "NSErrorFailingURLStringKey";
inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kFilePathErrorKey = "NSFilePath";
enum URLErrorCode : std::int64_t {
  kURLErrorCancelled = -999,
  kURLErrorTimedOut = -1001,
  kURLErrorCannotFindHost = -1003,
  kURLErrorCannotConnectToHost = -1004,
  kURLErrorNetworkConnectionLost = -1005,
  kURLErrorBadServerResponse = -1011,
  kURLErrorCannotDecodeContentData = -1016,
  kURLErrorFileDoesNotExist = -1100,
  kURLErrorFileIsDirectory = -1101,
  kURLErrorCannotCreateFile = -3000,
  kURLErrorCannotOpenFile = -3001,
  kURLErrorCannotWriteToFile = -3003,
};

}  // namespace backend::http
