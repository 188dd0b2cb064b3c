#pragma once

#include <httplib.h>

#include "backend_bridge.hpp"
#include "collector/collector.hpp"
#include "devserver/push_gateway.hpp"
#include "faults/fault_injector.hpp"
#include "http/request_target.hpp"
#include "inspect/request_log.hpp"
#include "sites/publisher_sites.hpp"
#include "sites/push_provider.hpp"

namespace devserver {

// Everything the admin endpoints look into or change.
struct AdminServices {
  RequestLog& requests;
  Collector& collector;
  PushGateway& gateway;
  PushProvider& provider;
  FaultInjector& faults;
  PublisherSites& sites;
  BackendBridge& backend;
};

// "/_admin/..." on every host: inspection and fault injection, all JSON.
// GET /_admin/ lists the endpoints.
class AdminEndpoints {
 public:
  explicit AdminEndpoints(AdminServices services) : services_(services) {}

  void handle(const httplib::Request& request, const RequestTarget& target, httplib::Response& response);

 private:
  void requests(const httplib::Request& request, httplib::Response& response);
  void sendPush(const httplib::Request& request, httplib::Response& response);
  void faults(const httplib::Request& request, httplib::Response& response);
  void objects(const std::string& className, httplib::Response& response);
  void providers(const httplib::Request& request, httplib::Response& response);

  AdminServices services_;
};

}  // namespace devserver
