#include "platform/service_routing.hpp"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "platform/exceptions.hpp"
#include "platform/url.hpp"

namespace platform {

namespace {

struct SplitURL {
  std::string scheme;     // lower case
  std::string authority;  // as written: host[:port], without user info
  std::string host;       // lower case, without port or brackets' content changed
  std::string rest;       // path, query and fragment ("" or starting with '/', '?' or '#')
};

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

std::optional<SplitURL> split(std::string_view url) {
  const auto parts = splitURL(url);
  if (!parts) return std::nullopt;
  std::string rest = parts->path;
  if (parts->query) rest += "?" + *parts->query;
  if (parts->fragment) rest += "#" + *parts->fragment;
  return SplitURL{lower(parts->scheme), parts->authority(), lower(parts->host), std::move(rest)};
}

bool inDomain(const std::string& host, const std::string& domain) {
  if (host == domain) return true;
  return host.size() > domain.size() + 1 && host.ends_with(domain) &&
         host[host.size() - domain.size() - 1] == '.';
}

}  // namespace

struct ServiceRouting::State {
  mutable std::mutex mutex;
  std::string base;       // "http://authority" plus an optional path prefix without trailing '/'
  std::vector<std::string> domains;
};

ServiceRouting& ServiceRouting::shared() {
  static ServiceRouting instance;
  return instance;
}

ServiceRouting::State& ServiceRouting::state() const {
  static State s;
  return s;
}

void ServiceRouting::routeTo(std::string_view baseURL, std::vector<std::string> domains) {
  const auto parts = split(baseURL);
  if (!parts || (parts->scheme != "http" && parts->scheme != "https")) {
    throw InvalidArgumentException("Service base URL must be an absolute http URL: " + std::string(baseURL));
  }
  std::string prefix = parts->rest.substr(0, parts->rest.find_first_of("?#"));
  while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
  for (auto& domain : domains) {
    domain = lower(domain);
    while (!domain.empty() && domain.front() == '.') domain.erase(domain.begin());
  }
  std::erase_if(domains, [](const std::string& d) { return d.empty(); });
  auto& s = state();
  std::lock_guard lock(s.mutex);
  // Routed traffic is plain HTTP to the local server whatever the original scheme.
  s.base = "http://" + parts->authority + prefix;
  s.domains = std::move(domains);
}

void ServiceRouting::clear() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.base.clear();
  s.domains.clear();
}

bool ServiceRouting::isActive() const {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return !s.base.empty();
}

std::string ServiceRouting::baseURL() const {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return s.base;
}

std::optional<RoutedRequest> ServiceRouting::route(std::string_view url) const {
  const auto parts = split(url);
  if (!parts || (parts->scheme != "http" && parts->scheme != "https")) return std::nullopt;
  auto& s = state();
  std::lock_guard lock(s.mutex);
  if (s.base.empty()) return std::nullopt;
  const bool routed = std::any_of(s.domains.begin(), s.domains.end(),
                                  [&](const std::string& d) { return inDomain(parts->host, d); });
  if (!routed) return std::nullopt;
  std::string rest = parts->rest.empty() ? "/" : parts->rest;
  if (rest.front() != '/') rest.insert(rest.begin(), '/');
  return RoutedRequest{s.base + rest, parts->authority};
}

}  // namespace platform
