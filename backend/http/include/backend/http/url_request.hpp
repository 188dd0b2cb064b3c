#pragma once
// A request to send and the response head that came back.

#include <cstdint>
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

struct URLRequest {
  std::string url;
  std::string method = "GET";
  HeaderFields headers;
  std::optional<std::string> body;
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
enum URLErrorCode : std::int64_t {
  kURLErrorCancelled = -999,
  kURLErrorTimedOut = -1001,
  kURLErrorCannotFindHost = -1003,
  kURLErrorCannotConnectToHost = -1004,
  kURLErrorNetworkConnectionLost = -1005,
  kURLErrorBadServerResponse = -1011,
  kURLErrorCannotDecodeContentData = -1016,
};

}  // namespace backend::http
