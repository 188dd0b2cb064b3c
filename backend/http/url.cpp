#include "backend/http/url.hpp"

namespace backend::http {

std::optional<URLParts> parseURL(std::string_view url) {
  auto schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos || schemeEnd == 0) return std::nullopt;
  URLParts parts;
  parts.scheme = std::string(url.substr(0, schemeEnd));
  auto rest = url.substr(schemeEnd + 3);
  if (auto hash = rest.find('#'); hash != std::string_view::npos) rest = rest.substr(0, hash);
  auto authorityEnd = rest.find_first_of("/?");
  auto authority = rest.substr(0, authorityEnd);
  auto tail = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
  if (auto at = authority.rfind('@'); at != std::string_view::npos) authority = authority.substr(at + 1);
  std::string_view hostPart = authority;
  if (!authority.empty() && authority.front() == '[') {
    auto close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    hostPart = authority.substr(0, close + 1);
    auto after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      parts.port = std::string(after.substr(1));
    }
  } else if (auto colon = authority.find(':'); colon != std::string_view::npos) {
    hostPart = authority.substr(0, colon);
    parts.port = std::string(authority.substr(colon + 1));
  }
  if (hostPart.empty()) return std::nullopt;
  if (parts.port && parts.port->empty()) parts.port.reset();
  parts.host = std::string(hostPart);
  auto question = tail.find('?');
  parts.path = std::string(tail.substr(0, question));
  if (question != std::string_view::npos) parts.query = std::string(tail.substr(question + 1));
  return parts;
}

std::string resolveURL(std::string_view base, std::string_view path) {
  if (path.find("://") != std::string_view::npos) return std::string(path);
  auto parts = parseURL(base);
  if (!parts) return std::string(base) + std::string(path);
  std::string origin = parts->scheme + "://" + parts->host + (parts->port ? ":" + *parts->port : "");
  if (!path.empty() && path.front() == '/') return origin + std::string(path);
  auto directory = parts->path.substr(0, parts->path.rfind('/') + 1);
  if (directory.empty()) directory = "/";
  return origin + directory + std::string(path);
}

}  // namespace backend::http
