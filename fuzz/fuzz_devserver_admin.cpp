// Feeds arbitrary bodies to the admin endpoints that read one. The first
// byte picks the endpoint, the rest is the body; the endpoints that clear
// state keep the server's stores small between runs.
#include "backend_bridge.hpp"
#include "collector/collector.hpp"
#include "devserver/push_gateway.hpp"
#include "faults/fault_injector.hpp"
#include "inspect/admin_endpoints.hpp"
#include "inspect/request_log.hpp"
#include "sites/publisher_sites.hpp"
#include "sites/push_provider.hpp"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <unistd.h>

namespace {

struct Endpoint {
  const char* method;
  const char* path;
};

constexpr Endpoint kEndpoints[] = {{"POST", "/_admin/faults"},    {"POST", "/_admin/push/send"},
                                   {"POST", "/_admin/providers"}, {"POST", "/_admin/reset"},
                                   {"DELETE", "/_admin/faults"}};

struct Services {
  devserver::RequestLog requests;
  devserver::Collector collector;
  devserver::PushGateway gateway;
  devserver::PushProvider provider;
  devserver::FaultInjector faults;
  devserver::PublisherSites sites{1, provider};
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vv-fuzz-admin-" + std::to_string(getpid()));
  devserver::BackendBridge backend{dir, gateway, std::chrono::minutes(15)};
  devserver::AdminEndpoints admin{
      devserver::AdminServices{requests, collector, gateway, provider, faults, sites, backend}};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static Services services;
  const Endpoint& endpoint = kEndpoints[data[0] % std::size(kEndpoints)];
  httplib::Request request;
  request.method = endpoint.method;
  request.path = endpoint.path;
  request.target = endpoint.path;
  request.body.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  request.set_header("Content-Type", "application/json");
  devserver::RequestTarget target{"", "127.0.0.1", "", endpoint.path, false};
  httplib::Response response;
  services.admin.handle(request, target, response);
  // Every admin answer is a JSON object.
  auto answer = nlohmann::json::parse(response.body, nullptr, false);
  if (!answer.is_object()) __builtin_trap();
  if (services.faults.rules().size() > devserver::FaultInjector::kMaxRules) __builtin_trap();
  return 0;
}
