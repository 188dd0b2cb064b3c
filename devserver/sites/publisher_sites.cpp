#include "sites/publisher_sites.hpp"

#include <algorithm>
#include <cctype>

#include "devserver/push_gateway.hpp"
#include "http/answers.hpp"
#include "sites/menu_config.hpp"

namespace devserver {
namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kAppHeader = "vestavind_mobile_app";
constexpr const char* kProviderPrefix = "/pn/addDevice/";

std::vector<std::string> segmentsOf(const std::string& path) {
  std::vector<std::string> segments;
  std::size_t start = 1;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) segments.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return segments;
}

// The article id at the start of "<id>-<slug>", or 0.
std::uint64_t leadingId(const std::string& segment) {
  std::uint64_t id = 0;
  std::size_t digits = 0;
  while (digits < segment.size() && digits < 12 && std::isdigit(static_cast<unsigned char>(segment[digits]))) {
    id = id * 10 + static_cast<std::uint64_t>(segment[digits] - '0');
    ++digits;
  }
  return digits > 0 && (digits == segment.size() || segment[digits] == '-') ? id : 0;
}

bool isOneOf(const std::string& path, std::initializer_list<const char*> choices) {
  return std::any_of(choices.begin(), choices.end(), [&](const char* choice) { return path == choice; });
}

}  // namespace

PublisherSites::PublisherSites(std::uint64_t seed, PushProvider& provider)
    : content_(seed), renderer_(content_), provider_(provider) {}

bool PublisherSites::servesHost(const std::string& host) {
  return host == kForeignHost || siteForHost(host) != nullptr;
}

void PublisherSites::handle(const httplib::Request& request, const RequestTarget& target,
                            httplib::Response& response) {
  const bool providerCall = target.path.rfind(kProviderPrefix, 0) == 0;
  if (request.method != "GET" && request.method != "HEAD" && !(providerCall && request.method == "POST")) {
    response.set_header("Allow", "GET, HEAD");
    answerError(response, 405, "the publisher's sites answer GET and HEAD");
    return;
  }
  if (target.host == kForeignHost) {
    response.set_content(renderer_.foreign(target.path), kHtml);
    return;
  }
  const Site& site = *siteForHost(target.host);
  PageContext context{target.host, request.get_param_value("hideHeader") == "1",
                      request.get_header_value(kAppHeader)};
  if (site.key == mainSite().key) {
    handleMainSitePath(request, target, context, response);
    return;
  }
  if (!handleSitePath(site, target, context, response)) {
    response.status = 404;
    response.set_content(renderer_.notFound(site, target.path, context), kHtml);
  }
}

void PublisherSites::handleMainSitePath(const httplib::Request& request, const RequestTarget& target,
                                        const PageContext& context, httplib::Response& response) {
  const std::string& path = target.path;
  if (isOneOf(path, {"/iosapp/menuconfig/", "/iosapp/menuconfig"}) && target.host == kMainDesktopHost) {
    answerJson(response, menuConfiguration());
  } else if (path.rfind(kProviderPrefix, 0) == 0) {
    registerDevice(path.substr(std::string(kProviderPrefix).size()), response);
  } else if (isOneOf(path, {"/tekstarkiv/", "/tekstarkiv"})) {
    response.set_content(renderer_.search(request.get_param_value("q"), context), kHtml);
  } else if (isOneOf(path, {"/rammer/", "/rammer"})) {
    response.set_content(renderer_.frames(context), kHtml);
  } else if (path == "/rammer/meny") {
    response.set_content(renderer_.frameMenu(context), kHtml);
  } else if (path == "/rammer/innhold") {
    response.set_content(renderer_.frameContent(context), kHtml);
  } else if (!handleSitePath(mainSite(), target, context, response)) {
    response.status = 404;
    response.set_content(renderer_.notFound(mainSite(), path, context), kHtml);
  }
}

bool PublisherSites::handleSitePath(const Site& site, const RequestTarget& target, const PageContext& context,
                                    httplib::Response& response) {
  auto segments = segmentsOf(target.path);
  if (segments.empty()) {
    response.set_content(renderer_.front(site, context), kHtml);
    return true;
  }
  auto section = std::find_if(site.sections.begin(), site.sections.end(),
                              [&](const SiteSection& candidate) { return candidate.slug == segments[0]; });
  if (section == site.sections.end() || segments.size() > 2) return false;
  if (segments.size() == 1) {
    response.set_content(renderer_.section(site, *section, context), kHtml);
    return true;
  }
  const Article* article = content_.findArticle(site.key, leadingId(segments[1]));
  if (article == nullptr || article->section != section->slug) return false;
  response.set_content(renderer_.article(site, *article, context), kHtml);
  return true;
}

void PublisherSites::registerDevice(const std::string& token, httplib::Response& response) {
  auto normalized = PushGateway::normalizeToken(token);
  if (!normalized) {
    response.status = 400;
    response.set_content("not a device token: expected hexadecimal digits after /pn/addDevice/\n",
                         "text/plain; charset=utf-8");
    return;
  }
  provider_.addDevice(*normalized);
  response.set_content("OK\n", "text/plain; charset=utf-8");
}

nlohmann::json PublisherSites::describe() const {
  nlohmann::json sites = nlohmann::json::array();
  for (const Site& site : siteCatalog()) {
    nlohmann::json sections = nlohmann::json::array();
    for (const SiteSection& section : site.sections) {
      nlohmann::json articles = nlohmann::json::array();
      for (const Article& article : content_.sectionArticles(site.key, section.slug)) {
        articles.push_back({{"id", article.id},
                            {"title", article.title},
                            {"url", "http://" + site.desktopHost + article.path}});
      }
      sections.push_back({{"slug", section.slug},
                          {"title", section.title},
                          {"url", "http://" + site.desktopHost + "/" + section.slug + "/"},
                          {"navtype", site.sectionNavType},
                          {"articles", articles}});
    }
    sites.push_back({{"key", site.key},
                     {"name", site.name},
                     {"hosts", site.hosts},
                     {"navtype", site.frontNavType},
                     {"url", "http://" + site.desktopHost},
                     {"sections", sections}});
  }
  return {{"sites", sites}, {"foreignHost", kForeignHost}};
}

}  // namespace devserver
