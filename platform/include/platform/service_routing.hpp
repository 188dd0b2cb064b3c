#pragma once
// Process-wide routing of the compiled-in service hosts to one local server.
// The constants keep their meaning: a request for "http://www.vestavind.test/x"
// is sent to the routed base URL with the original Host header.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Where one request actually goes.
struct RoutedRequest {
  std::string url;         // the URL to connect to (plain HTTP, routed authority)
  std::string hostHeader;  // the original authority ("host" or "host:port") for the Host header
};

class ServiceRouting {
 public:
  // The single instance. Thread-safe.
  static ServiceRouting& shared();

  // Routes every host that equals one of `domains` or ends in "." + one of
  // them to `baseURL` ("http://127.0.0.1:8080", an optional path prefix is
  // kept). The default domain list is the reserved "test" top-level domain,
  // which every compiled-in host uses. Throws InvalidArgumentException when
  // baseURL is not an absolute http(s) URL with a host.
  void routeTo(std::string_view baseURL, std::vector<std::string> domains = {"test"});
  // Back to direct connections.
  void clear();
  bool isActive() const;
  // The routed base URL, empty when inactive.
  std::string baseURL() const;

  // The routing for `url`, or nullopt when it goes out unchanged (routing
  // inactive, a host outside the domains, or a URL without a host).
  std::optional<RoutedRequest> route(std::string_view url) const;

 private:
  ServiceRouting() = default;
  struct State;
  State& state() const;
};

}  // namespace platform
