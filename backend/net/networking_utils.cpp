#include "networking_utils.hpp"

#include <pthread.h>

#include <charconv>

#include "backend/http/network_activity_indicator_manager.hpp"

namespace backend::net {
namespace {

// Bytes that may stand in a request target as they are; everything else is
// escaped, so a URL can never split the request line.
bool isTargetByte(unsigned char byte) {
  if (byte <= 0x20 || byte >= 0x7f) return false;
  switch (byte) {
    case '"': case '<': case '>': case '\\': case '^': case '`': case '{': case '|': case '}': case '#':
      return false;
    default:
      return true;
  }
}

void appendEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (isTargetByte(byte)) {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xF]);
    }
  }
}

// Length of the UTF-8 sequence a lead byte starts, 0 for an invalid lead.
int sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool isValidUTF8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = sequenceLength(lead);
    if (length == 0 || i + length > text.size()) return false;
    for (int k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    if (length > 1) {
      const auto second = static_cast<unsigned char>(text[i + 1]);
      // Overlong forms, surrogates and code points past U+10FFFF.
      if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
          (lead == 0xF4 && second > 0x8F))
        return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

NetworkThread& NetworkThread::shared() {
  static NetworkThread thread;
  return thread;
}

NetworkThread::NetworkThread() : work_(asio::make_work_guard(context_)) {
  thread_ = std::thread([this] {
    pthread_setname_np(pthread_self(), "BEHTTPNetwork");
    context_.run();
  });
}

NetworkThread::~NetworkThread() {
  work_.reset();
  context_.stop();
  thread_.join();
}

std::string pathComponentForURL(std::string_view url) {
  auto parts = http::parseURL(url);
  std::string target;
  if (!parts) return "/";
  appendEscaped(target, parts->path.empty() ? std::string_view("/") : std::string_view(parts->path));
  if (parts->query) {
    target.push_back('?');
    appendEscaped(target, *parts->query);
  }
  return target;
}

std::string hostComponentForURL(std::string_view url) {
  auto parts = http::parseURL(url);
  if (!parts) return std::string();
  std::string host;
  appendEscaped(host, parts->host);
  if (parts->port) {
    host.push_back(':');
    appendEscaped(host, *parts->port);
  }
  return host;
}

std::optional<Endpoint> endpointForURL(std::string_view url) {
  auto parts = http::parseURL(url);
  if (!parts) return std::nullopt;
  Endpoint endpoint;
  endpoint.scheme = parts->scheme;
  for (char& c : endpoint.scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  endpoint.host = parts->host;
  if (endpoint.host.size() >= 2 && endpoint.host.front() == '[') endpoint.host = endpoint.host.substr(1, endpoint.host.size() - 2);
  if (endpoint.host.empty()) return std::nullopt;
  endpoint.port = endpoint.scheme == "https" ? 443 : 80;
  if (parts->port) {
    unsigned port = 0;
    const char* end = parts->port->data() + parts->port->size();
    auto parsed = std::from_chars(parts->port->data(), end, port);
    if (parsed.ec != std::errc() || parsed.ptr != end || port == 0 || port > 65535) return std::nullopt;
    endpoint.port = static_cast<std::uint16_t>(port);
  }
  return endpoint;
}

std::optional<std::string> stringWithUTF8Data(std::string_view bytes) {
  const auto nul = bytes.find('\0');
  const std::string_view text = bytes.substr(0, nul);
  if (!isValidUTF8(text)) return std::nullopt;
  return std::string(text);
}

void setNetworkActivityIndicatorVisible(bool visible) {
  auto& indicator = http::NetworkActivityIndicatorManager::sharedManager();
  if (visible) {
    indicator.incrementActivityCount();
  } else {
    indicator.decrementActivityCount();
  }
}

}  // namespace backend::net
