#pragma once

#include <httplib.h>

#include <cstdint>
#include <nlohmann/json.hpp>

#include "http/request_target.hpp"
#include "sites/page_renderer.hpp"
#include "sites/push_provider.hpp"
#include "sites/site_content.hpp"

namespace devserver {

// The publisher's web sites: pages, the menu configuration and the push
// provider's registration, told apart by host.
class PublisherSites {
 public:
  PublisherSites(std::uint64_t seed, PushProvider& provider);

  // True when `host` is one of the publisher's hosts or the foreign host.
  static bool servesHost(const std::string& host);
  // Answers one request for a host servesHost() accepted.
  void handle(const httplib::Request& request, const RequestTarget& target, httplib::Response& response);
  // Sites, hosts, sections and article URLs as JSON, for tests and developers.
  nlohmann::json describe() const;

 private:
  void handleMainSitePath(const httplib::Request& request, const RequestTarget& target, const PageContext& context,
                          httplib::Response& response);
  bool handleSitePath(const Site& site, const RequestTarget& target, const PageContext& context,
                      httplib::Response& response);
  void registerDevice(const std::string& token, httplib::Response& response);

  SiteContent content_;
  PageRenderer renderer_;
  PushProvider& provider_;
};

}  // namespace devserver
