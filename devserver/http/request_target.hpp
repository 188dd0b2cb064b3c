#pragma once

#include <optional>
#include <string>

namespace devserver {

// Where a request is aimed: taken from an absolute-form target
// ("GET http://host:port/path HTTP/1.1", as sent to a proxy) or else from the
// Host header.
struct RequestTarget {
  std::string scheme;  // "http" or "https" for an absolute-form target, else empty
  std::string host;    // lower case, without port; empty when the request named none
  std::string port;    // digits, or empty
  std::string path;    // always starts with "/"
  bool absoluteForm = false;
};

// The outcome of resolving a request's target; `error` says why it failed.
struct TargetResolution {
  std::optional<RequestTarget> target;
  std::string error;
};

// Resolves `path` (the request target without its query, as the HTTP library
// decoded it) and the Host header value. A host is valid when it is a
// bracketed IPv6 literal or consists of letters, digits, '-', '.' and '_'
// (at most 253 characters) with an optional numeric port.
TargetResolution resolveTarget(const std::string& path, const std::string& hostHeader);

// True for "localhost", 127.0.0.0/8 and "[::1]": addresses of this machine
// that name the server itself rather than a site.
bool isLoopbackHost(const std::string& host);

}  // namespace devserver
