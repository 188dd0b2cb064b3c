#include "http_headers.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "multipart_request.hpp"
#include "networking_utils.hpp"
#include "platform/bundle.hpp"
#include "platform/device.hpp"
#include "platform/exceptions.hpp"

namespace backend::net {
namespace {

constexpr std::array<bool, 256> makeTokenTable() {
  std::array<bool, 256> table{};
  constexpr std::string_view separators = "()<>@,;:\\\"/[]?={} \t";
  for (int byte = 33; byte <= 126; ++byte) table[byte] = separators.find(static_cast<char>(byte)) == std::string_view::npos;
  return table;
}
constexpr std::array<bool, 256> kTokenTable = makeTokenTable();

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

void skipSpaces(std::string_view text, std::size_t& at) {
  while (at < text.size() && isSpace(text[at])) ++at;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number of at most `maxDigits` digits after optional spaces.
std::optional<int> scanNumber(std::string_view text, std::size_t& at, std::size_t maxDigits) {
  skipSpaces(text, at);
  std::size_t start = at;
  int value = 0;
  while (at < text.size() && at - start < maxDigits && isDigit(text[at])) value = value * 10 + (text[at++] - '0');
  if (at == start) return std::nullopt;
  return value;
}

bool hasLineBreakOrNul(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

}  // namespace

bool HTTPHeaders::isTokenByte(unsigned char byte) noexcept { return kTokenTable[byte]; }

std::optional<StatusLine> scanStatusLine(std::string_view line) {
  constexpr std::string_view prefix = "HTTP/";
  if (line.substr(0, prefix.size()) != prefix) return std::nullopt;
  std::size_t at = prefix.size();
  StatusLine status;
  // Versions and codes are short: more digits than these are not HTTP.
  auto major = scanNumber(line, at, 3);
  if (!major || at >= line.size() || line[at++] != '.') return std::nullopt;
  auto minor = scanNumber(line, at, 3);
  if (!minor) return std::nullopt;
  auto code = scanNumber(line, at, 3);
  if (!code) return std::nullopt;
  skipSpaces(line, at);
  if (at >= line.size()) return std::nullopt;
  status.major = *major;
  status.minor = *minor;
  status.code = *code;
  status.reasonOffset = at;
  return status;
}

HTTPHeaders HTTPHeaders::request() {
  HTTPHeaders headers;
  headers.complete_ = true;
  headers.fields_.set("Accept-Encoding", "identity");
  headers.fields_.set("Accept-Language", "en-us");
  headers.fields_.set("User-Agent", userAgent());
  return headers;
}

HTTPHeaders HTTPHeaders::response() {
  HTTPHeaders headers;
  headers.responseBuffer_.reserve(1024);
  return headers;
}

void HTTPHeaders::addHeader(std::string_view name, std::string value) {
  const bool validName = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return isTokenByte(static_cast<unsigned char>(c));
  });
  if (!validName || hasLineBreakOrNul(value))
    throw platform::InvalidArgumentException("Invalid HTTP header field: " + std::string(name));
  fields_.set(name, std::move(value));
}

void HTTPHeaders::setVerb(std::string verb) {
  const bool valid = !verb.empty() && std::all_of(verb.begin(), verb.end(), [](char c) {
    return isTokenByte(static_cast<unsigned char>(c));
  });
  if (!valid) throw platform::InvalidArgumentException("Invalid HTTP verb: " + verb);
  verb_ = std::move(verb);
}

std::string HTTPHeaders::compileRequest(std::string_view url, const RequestBody* body) const {
  std::string text;
  text.reserve(256);
  text.append(verb_).append(" ").append(pathComponentForURL(url)).append(" HTTP/1.1\r\nHost: ");
  text.append(hostComponentForURL(url)).append("\r\n");
  for (const auto& [name, value] : fields_.all()) text.append(name).append(": ").append(value).append("\r\n");
  if (body) {
    text.append("Content-Type: ").append(body->contentType()).append("\r\n");
    text.append("Content-Length: ").append(std::to_string(body->length())).append("\r\n");
  }
  text.append("\r\n");
  return text;
}

std::string HTTPHeaders::userAgent() {
  const auto bundle = platform::Bundle::main();
  const auto device = platform::Device::current();
  const double scale = device.screenScale > 0 ? device.screenScale : 1.0;
  char scaleText[64];
  auto written = std::to_chars(scaleText, scaleText + sizeof scaleText, scale, std::chars_format::fixed, 6);
  return bundle.identifier().value_or("") + "/" + bundle.version().value_or("") + " (BackendApp, " +
         device.systemName + " " + device.systemVersion + ", " + device.model + ", Scale/" +
         std::string(scaleText, written.ptr) + ")";
}

std::int64_t HTTPHeaders::appendBytes(const char* bytes, std::size_t length) {
  if (parseError_) throw platform::InternalInconsistencyException("Continuing to read header after a parse error");
  if (complete_) throw platform::InternalInconsistencyException("The header byte stream is already completed");
  std::size_t rest;
  std::size_t buffered = responseBuffer_.size();
  if (buffered == 0) {
    // The usual case, a whole header in one read: parsed in place, only an
    // unterminated line is copied.
    const std::string_view input(bytes, length);
    rest = parseLines(input, 0);
    if (!complete_ && !parseError_) responseBuffer_.assign(input.substr(rest));
  } else {
    responseBuffer_.append(bytes, length);
    rest = parseLines(responseBuffer_, 0);
    if (!complete_ && !parseError_) responseBuffer_.erase(0, rest);
  }
  if (parseError_) return -1;
  if (complete_) {
    const std::size_t total = buffered + length;
    std::string().swap(responseBuffer_);
    return static_cast<std::int64_t>(length - (total - rest));
  }
  receivedBytes_ += length;
  if (receivedBytes_ > kMaxResponseHeaderBytes) fail();
  if (!parseError_ && responseBuffer_.size() >= kEarlyGiveUpBytes) maybeGiveUpOnParsing(responseBuffer_);
  return parseError_ ? -1 : static_cast<std::int64_t>(length);
}

std::size_t HTTPHeaders::parseLines(std::string_view text, std::size_t start) {
  while (!complete_) {
    const void* found = start < text.size() ? std::memchr(text.data() + start, '\r', text.size() - start) : nullptr;
    std::size_t cr = found ? static_cast<const char*>(found) - text.data() : std::string_view::npos;
    // A lone CR belongs to the line; only CR LF ends it.
    while (cr != std::string_view::npos && cr + 1 < text.size() && text[cr + 1] != '\n') {
      found = std::memchr(text.data() + cr + 1, '\r', text.size() - cr - 1);
      cr = found ? static_cast<const char*>(found) - text.data() : std::string_view::npos;
    }
    if (cr == std::string_view::npos || cr + 1 >= text.size()) return start;
    parseLine(text.substr(start, cr - start));
    start = cr + 2;
  }
  return start;
}

void HTTPHeaders::parseLine(std::string_view line) {
  if (line.empty()) {
    if (statusLine_.empty()) return fail();
    complete_ = true;
    return finishHeader();
  }
  if (statusLine_.empty()) return parseStatusLine(line);
  parseHeaderLine(line);
}

void HTTPHeaders::parseStatusLine(std::string_view line) {
  auto status = scanStatusLine(line);
  if (!status) return fail();
  statusLine_.assign(line);
  statusCode_ = status->code;
  statusDescription_.assign(line.substr(status->reasonOffset));
}

void HTTPHeaders::parseHeaderLine(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return fail();
  for (std::size_t i = 0; i < colon; ++i) {
    if (!kTokenTable[static_cast<unsigned char>(line[i])]) return fail();
  }
  std::size_t valueStart = colon + 1;
  while (valueStart < line.size() && line[valueStart] == ' ') ++valueStart;
  fields_.set(line.substr(0, colon), std::string(line.substr(valueStart)));
}

void HTTPHeaders::finishHeader() {
  contentType_ = fields_.get("Content-Type").value_or("");
  if (statusCode_ == 204) {
    contentLength_ = 0;
    return;
  }
  auto length = fields_.get("Content-Length");
  if (!length) return;
  // Digits only: a sign, a list or trailing text would make the body's end
  // a guess.
  std::int64_t value = -1;
  const char* end = length->data() + length->size();
  auto parsed = std::from_chars(length->data(), end, value);
  if (length->empty() || parsed.ec != std::errc() || parsed.ptr != end || (*length)[0] == '-') return fail();
  contentLength_ = value;
}

void HTTPHeaders::maybeGiveUpOnParsing(std::string_view rest) {
  if (statusLine_.empty()) {
    if (!scanStatusLine(rest.substr(0, rest.size() - 1))) fail();
    return;
  }
  const std::size_t nameEnd = std::min(rest.find(':'), rest.size());
  for (std::size_t i = 0; i < nameEnd; ++i) {
    if (!kTokenTable[static_cast<unsigned char>(rest[i])]) return fail();
  }
}

void HTTPHeaders::fail() {
  parseError_ = true;
  complete_ = true;
  std::string().swap(responseBuffer_);
}

const std::string& HTTPHeaders::getStatusLine() const {
  if (!complete_) throw platform::InternalInconsistencyException("The header byte stream is not complete");
  return statusLine_;
}

int HTTPHeaders::getStatusCode() const {
  if (!complete_) throw platform::InternalInconsistencyException("The header byte stream is not complete");
  return statusCode_;
}

const http::HeaderFields& HTTPHeaders::allHeaders() const {
  if (!complete_) throw platform::InternalInconsistencyException("The header byte stream is not complete");
  if (parseError_) throw platform::InternalInconsistencyException("Header is corrupt");
  return fields_;
}

std::optional<std::string> HTTPHeaders::getHeader(std::string_view name) const { return allHeaders().get(name); }

}  // namespace backend::net
