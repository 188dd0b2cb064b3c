#include "http/request_target.hpp"

#include <algorithm>
#include <cctype>

namespace devserver {
namespace {

constexpr std::size_t kMaxHostLength = 253;

bool isHostChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

bool allDigits(const std::string& text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Splits "host[:port]" into its parts; returns false when it is malformed.
bool splitAuthority(const std::string& authority, RequestTarget& target, std::string& error) {
  std::string host = authority;
  std::string port;
  if (!host.empty() && host.front() == '[') {
    auto close = host.find(']');
    if (close == std::string::npos) {
      error = "bad host \"" + authority + "\": unclosed '['";
      return false;
    }
    std::string rest = host.substr(close + 1);
    host = host.substr(0, close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') {
        error = "bad host \"" + authority + "\"";
        return false;
      }
      port = rest.substr(1);
    }
    bool literalOk = std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
      return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
    });
    if (!literalOk || host.size() < 3) {
      error = "bad host \"" + authority + "\": not an IPv6 literal";
      return false;
    }
  } else {
    auto colon = host.rfind(':');
    if (colon != std::string::npos) {
      port = host.substr(colon + 1);
      host = host.substr(0, colon);
    }
    if (host.empty() || host.size() > kMaxHostLength || !std::all_of(host.begin(), host.end(), isHostChar)) {
      error = "bad host \"" + authority + "\": a host name has letters, digits, '-', '.' and '_' only";
      return false;
    }
  }
  if (authority.find(':') != std::string::npos && authority.back() != ']' && !allDigits(port)) {
    error = "bad port in host \"" + authority + "\"";
    return false;
  }
  target.host = lower(host);
  target.port = port;
  return true;
}

}  // namespace

TargetResolution resolveTarget(const std::string& path, const std::string& hostHeader) {
  TargetResolution result;
  RequestTarget target;
  std::string authority = hostHeader;
  std::string rest = path;
  for (const char* scheme : {"http", "https"}) {
    std::string prefix = std::string(scheme) + "://";
    if (lower(path.substr(0, prefix.size())) == prefix) {
      target.scheme = scheme;
      target.absoluteForm = true;
      auto slash = path.find('/', prefix.size());
      authority = path.substr(prefix.size(), slash == std::string::npos ? std::string::npos : slash - prefix.size());
      rest = slash == std::string::npos ? "/" : path.substr(slash);
      if (authority.empty()) {
        result.error = "absolute-form target \"" + path + "\" names no host";
        return result;
      }
    }
  }
  if (!target.absoluteForm && (rest.empty() || rest.front() != '/')) {
    result.error = "request target \"" + path.substr(0, 200) + "\" is neither a path nor an http(s) URL";
    return result;
  }
  if (!authority.empty() && !splitAuthority(authority, target, result.error)) return result;
  target.path = rest;
  result.target = std::move(target);
  return result;
}

bool isLoopbackHost(const std::string& host) {
  return host == "localhost" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

}  // namespace devserver
