#pragma once
// The header block of one HTTP/1.1 exchange: the request's, compiled into
// text before sending, or the response's, parsed from bytes as they arrive.
// Not thread-safe: a command uses its blocks on the network thread, and its
// caller reads them once the command has finished.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "backend/http/url_request.hpp"

namespace backend::net {

class RequestBody;

class HTTPHeaders {
 public:
  // Header blocks larger than this are refused as malformed, so a peer that
  // never ends its header cannot grow the fields without bound.
  static constexpr std::size_t kMaxResponseHeaderBytes = 64 * 1024;
  // Unterminated rest at which the parser checks a line before its end arrives.
  static constexpr std::size_t kEarlyGiveUpBytes = 30;

  // A request block: "Accept-Encoding: identity", "Accept-Language: en-us"
  // and the user agent; complete from the start.
  static HTTPHeaders request();
  // An empty response block, complete once its empty line has been parsed.
  static HTTPHeaders response();

  // Sets a request field (a field of the same name, in any case, is
  // replaced). Raises InvalidArgumentException for a name that is not a
  // token or a value holding CR, LF or NUL, which would split the request.
  void addHeader(std::string_view name, std::string value);
  void setVerb(std::string verb);
  const std::string& verb() const noexcept { return verb_; }

  // "<verb> <path> HTTP/1.1", "Host: <host>", each field, and with a body
  // its "Content-Type" and "Content-Length", then the empty line.
  std::string compileRequest(std::string_view url, const RequestBody* body) const;
  // "<bundle id>/<version> (BackendApp, <system> <version>, <model>, Scale/<scale>)".
  static std::string userAgent();

  // Feeds response bytes. Answers -1 after a parse error; once the block is
  // complete, how many of these bytes belonged to it (the rest is body);
  // otherwise `length`. Raises InternalInconsistencyException when called
  // on a complete block or after a parse error.
  std::int64_t appendBytes(const char* bytes, std::size_t length);

  // Raise InternalInconsistencyException "The header byte stream is not
  // complete" on an incomplete block, and the last two also "Header is
  // corrupt" after a parse error.
  const std::string& getStatusLine() const;
  int getStatusCode() const;
  const http::HeaderFields& allHeaders() const;
  // The value of a field, its name compared without regard to case.
  std::optional<std::string> getHeader(std::string_view name) const;

  int statusCode() const noexcept { return statusCode_; }
  // The reason phrase: the status line from its first reason word on.
  const std::string& statusDescription() const noexcept { return statusDescription_; }
  // -1 when the response named none (0 for a 204).
  std::int64_t contentLength() const noexcept { return contentLength_; }
  const std::string& contentType() const noexcept { return contentType_; }
  bool complete() const noexcept { return complete_; }
  bool parseError() const noexcept { return parseError_; }

  // True for the bytes that may appear in a header name.
  static bool isTokenByte(unsigned char byte) noexcept;

 private:
  HTTPHeaders() = default;

  // Handles the complete lines of `text` from `start`; answers where the
  // unterminated rest begins (or the body, once complete).
  std::size_t parseLines(std::string_view text, std::size_t start);
  void parseLine(std::string_view line);
  void parseStatusLine(std::string_view line);
  void parseHeaderLine(std::string_view line);
  void finishHeader();
  void maybeGiveUpOnParsing(std::string_view rest);
  void fail();

  std::string statusLine_;
  int statusCode_ = -1;
  std::string statusDescription_;
  bool complete_ = false;
  bool parseError_ = false;
  // Response bytes not yet parsed (only an unterminated line is kept).
  std::string responseBuffer_;
  // Every byte fed to an incomplete block so far.
  std::size_t receivedBytes_ = 0;
  std::string verb_ = "GET";
  http::HeaderFields fields_;
  std::string contentType_;
  std::int64_t contentLength_ = -1;
};

// Parses a status line as "HTTP/<major>.<minor> <code> <reason>", the code
// at most three digits and the reason at least one word. Answers the code
// and the offset of the reason, or nullopt.
struct StatusLine {
  int major = 0;
  int minor = 0;
  int code = 0;
  std::size_t reasonOffset = 0;
};
std::optional<StatusLine> scanStatusLine(std::string_view line);

}  // namespace backend::net
