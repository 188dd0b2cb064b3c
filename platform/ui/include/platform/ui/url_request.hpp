#pragma once
// A page request of the web view: URL, method, header fields, body, timeout.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::ui {

class URLRequest {
 public:
  URLRequest() = default;
  // A GET for `url` (kept as given; an empty URL loads nothing).
  explicit URLRequest(std::string url, double timeoutSeconds = 60);

  // The absolute URL string.
  const std::string& url() const { return url_; }
  void setURL(std::string url) { url_ = std::move(url); }
  const std::string& httpMethod() const { return method_; }
  void setHTTPMethod(std::string method) { method_ = std::move(method); }
  const std::string& httpBody() const { return body_; }
  void setHTTPBody(std::string body) { body_ = std::move(body); }
  double timeoutInterval() const { return timeout_; }
  void setTimeoutInterval(double seconds) { timeout_ = seconds; }

  // Sets a header field, replacing one of the same name (names compare
  // without case). Names or values holding CR or LF are refused: the call
  // then has no effect and answers false.
  bool setValue(std::string value, std::string_view field);
  // The value of a field, nullopt when absent.
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;
  // All fields in the order first set.
  const std::vector<std::pair<std::string, std::string>>& allHTTPHeaderFields() const { return headers_; }

  bool operator==(const URLRequest&) const = default;

 private:
  std::string url_;
  std::string method_ = "GET";
  std::string body_;
  double timeout_ = 60;
  std::vector<std::pair<std::string, std::string>> headers_;
};

}  // namespace platform::ui
