#pragma once
// One blocking HTTP exchange on the calling thread, for requests outside the
// backend and analytics connections (the shell's own GETs, the headless web
// view's pages): sent through the service routing in force, to http and
// https only, within a time limit, keeping at most a capped body, and
// stoppable from another thread. Redirects are the caller's to follow, so
// that routing applies to every hop.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

struct PlainHttpRequest {
  std::string url;
  std::string method = "GET";  // POST sends `body`
  // A name or value with a line break, or an empty name, is not sent (it
  // could split the request); a routed request's Host header is the routing's.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::chrono::milliseconds timeout = std::chrono::seconds(60);
  std::optional<std::chrono::milliseconds> connectTimeout;
  std::size_t maxBodyBytes = 8 * 1024 * 1024;
  std::string userAgent;          // none when empty
  bool acceptCompressed = false;  // offers every encoding libcurl decodes
  // Polled during the transfer (about once a second while it waits); true stops it.
  std::function<bool()> cancelled;
};

enum class PlainHttpFailure { None, Timeout, HostNotFound, CannotConnect, UnsupportedURL, Cancelled, Other };

struct PlainHttpAnswer {
  PlainHttpFailure failure = PlainHttpFailure::None;
  std::string failureText;  // why, in words, when failed
  long status = 0;
  std::string body;
  bool truncated = false;               // the body went past maxBodyBytes; the rest was not read
  std::optional<std::string> location;  // the Location header as sent

  bool ok() const { return failure == PlainHttpFailure::None; }
};

// Any HTTP status is an answer; `failure` says why there is none.
PlainHttpAnswer plainHttpExchange(const PlainHttpRequest& request);

}  // namespace platform
