#pragma once
// Splitting absolute URLs ("scheme://[user@]host[:port][/path][?query][#fragment]")
// into their parts, the one way every layer does it.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct URLParts {
  std::string scheme;    // as written
  std::string userInfo;  // before '@', "" when none
  std::string host;      // as written; an IPv6 literal keeps its brackets ("[::1]")
  std::optional<std::string> port;  // digits after ':' (nullopt when absent or empty)
  std::string path;      // "" or starting with '/'
  std::optional<std::string> query;     // after '?', without it
  std::optional<std::string> fragment;  // after '#', without it

  // The host without an IPv6 literal's brackets ("::1").
  std::string bareHost() const;
  // host[:port], as it goes in a Host header.
  std::string authority() const;
};

// The parts of `url`; nullopt when it has no scheme, no host or a damaged
// IPv6 literal.
std::optional<URLParts> splitURL(std::string_view url);

// The host of `url` without brackets or port ("" when `url` is not absolute).
std::string hostOf(std::string_view url);

// True for an absolute http or https URL with a host (scheme in any case):
// the only addresses a web view is given.
bool isWebURL(std::string_view url);

}  // namespace platform
