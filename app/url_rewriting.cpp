#include "app/url_rewriting.hpp"

#include "app/site_constants.hpp"

namespace app {
namespace {

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t at = text.find(from); at != std::string_view::npos; at = text.find(from, start)) {
    out.append(text.substr(start, at - start)).append(to);
    start = at + from.size();
  }
  out.append(text.substr(start));
  return out;
}

std::string rewriteForTablet(std::string_view url) {
  if (!contains(url, kMainSiteURL) && !contains(url, kCelebritySiteURL)) return std::string(url);
  std::string rewritten = replaceAll(url, kMainSiteURL, kTabletSiteURL);
  rewritten += contains(rewritten, "?") ? "&" : "?";
  rewritten += kHideHeaderFlag;
  return rewritten;
}

std::string rewriteForPhone(std::string_view url) {
  std::string rewritten(url);
  if (rewritten == kMainSiteURL) rewritten = std::string(kMobileSiteURL) + "?" + std::string(kHideHeaderFlag);
  if (rewritten == kGamesSiteURL) rewritten = std::string(kGamesMobileSiteURL);
  return rewritten;
}

}  // namespace

std::string rewriteURLForDevice(std::string_view url, DeviceKind device) {
  return device == DeviceKind::Tablet ? rewriteForTablet(url) : rewriteForPhone(url);
}

std::string_view contentLayoutName(DeviceKind device) {
  return device == DeviceKind::Tablet ? "ViewController_iPad" : "ViewController_iPhone";
}

}  // namespace app
