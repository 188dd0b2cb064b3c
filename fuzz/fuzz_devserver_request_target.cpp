// Feeds arbitrary request targets and Host headers to the server's target
// resolution, and paths and hosts to the publisher's sites. The input splits
// at its first newline into the target and the Host value.
#include "http/request_target.hpp"
#include "sites/publisher_sites.hpp"
#include "sites/push_provider.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  auto newline = input.find('\n');
  std::string path = input.substr(0, newline);
  std::string host = newline == std::string::npos ? "www.vestavind.test" : input.substr(newline + 1);

  devserver::TargetResolution resolution = devserver::resolveTarget(path, host);
  if (resolution.target.has_value() == !resolution.error.empty()) __builtin_trap();
  if (!resolution.target) return 0;
  const devserver::RequestTarget& target = *resolution.target;
  if (target.path.empty() || target.path.front() != '/') __builtin_trap();
  devserver::isLoopbackHost(target.host);

  static devserver::PushProvider provider;
  static devserver::PublisherSites sites(1, provider);
  if (!devserver::PublisherSites::servesHost(target.host)) return 0;
  httplib::Request request;
  request.method = "GET";
  request.path = target.path;
  request.target = path;
  httplib::Response response;
  sites.handle(request, target, response);
  if (response.status != -1 && (response.status < 200 || response.status > 599)) __builtin_trap();
  provider.clear();
  return 0;
}
