#pragma once
// The parts of an absolute URL as the request code needs them.

#include <optional>
#include <string>
#include <string_view>

namespace backend::http {

struct URLParts {
  std::string scheme;
  std::string host;
  std::optional<std::string> port;  // only when the URL names one
  std::string path;                 // as written, "" when the URL has none
  std::optional<std::string> query; // without the "?"
};

// The parts of `url`, or nullopt when it is not an absolute URL with a host.
std::optional<URLParts> parseURL(std::string_view url);

// `path` resolved against `base` ("http://h/2/" + "find" -> "http://h/2/find").
// A path that is itself absolute is returned unchanged.
std::string resolveURL(std::string_view base, std::string_view path);

}  // namespace backend::http
