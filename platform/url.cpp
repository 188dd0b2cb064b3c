#include "platform/url.hpp"

#include <cctype>

namespace platform {
namespace {

// Splits "host[:port]" after user info; false when an IPv6 literal is damaged.
bool splitHostAndPort(std::string_view authority, URLParts& parts) {
  std::string_view host = authority;
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) return false;
    host = authority.substr(0, close + 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty() && after.front() != ':') return false;
    if (!after.empty()) port = after.substr(1);
  } else if (const auto colon = authority.rfind(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  if (host.empty()) return false;
  parts.host = std::string(host);
  if (!port.empty()) parts.port = std::string(port);
  return true;
}

}  // namespace

std::string URLParts::bareHost() const {
  if (host.size() >= 2 && host.front() == '[') return host.substr(1, host.size() - 2);
  return host;
}

std::string URLParts::authority() const { return port ? host + ":" + *port : host; }

std::optional<URLParts> splitURL(std::string_view url) {
  const auto schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos || schemeEnd == 0) return std::nullopt;
  URLParts parts;
  parts.scheme = std::string(url.substr(0, schemeEnd));
  std::string_view rest = url.substr(schemeEnd + 3);
  if (const auto hash = rest.find('#'); hash != std::string_view::npos) {
    parts.fragment = std::string(rest.substr(hash + 1));
    rest = rest.substr(0, hash);
  }
  const auto authorityEnd = rest.find_first_of("/?");
  std::string_view authority = rest.substr(0, authorityEnd);
  std::string_view tail = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    parts.userInfo = std::string(authority.substr(0, at));
    authority = authority.substr(at + 1);
  }
  if (!splitHostAndPort(authority, parts)) return std::nullopt;
  const auto question = tail.find('?');
  parts.path = std::string(tail.substr(0, question));
  if (question != std::string_view::npos) parts.query = std::string(tail.substr(question + 1));
  return parts;
}

std::string hostOf(std::string_view url) {
  const auto parts = splitURL(url);
  return parts ? parts->bareHost() : std::string();
}

bool isWebURL(std::string_view url) {
  const auto parts = splitURL(url);
  if (!parts || parts->host.empty()) return false;
  std::string scheme = parts->scheme;
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme == "http" || scheme == "https";
}

}  // namespace platform
