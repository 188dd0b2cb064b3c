#pragma once

#include <string>
#include <vector>

namespace devserver {

struct SiteSection {
  std::string slug;   // path segment, e.g. "sport"
  std::string title;  // e.g. "Sport"
};

// One of the publisher's sites and the hosts that serve it.
struct Site {
  std::string key;             // "vestavind", "glimt", ...
  std::string name;            // display name
  std::string tagline;
  std::string frontNavType;    // e.g. "kNavBarGlimt"
  std::string sectionNavType;  // e.g. "kNavBarGlimtSection"
  std::string desktopHost;     // the host its menu entries and links use
  std::vector<std::string> hosts;
  std::vector<SiteSection> sections;
};

// The main site's desktop host; the menu configuration lives there.
inline constexpr const char* kMainDesktopHost = "www.vestavind.test";
inline constexpr const char* kShortDomainHost = "vv.test";
// A host outside the publisher, linked from articles.
inline constexpr const char* kForeignHost = "www.example-foreign.test";

// Every site, the main site first.
const std::vector<Site>& siteCatalog();
// The site served on `host` (lower case, without port), or nullptr.
const Site* siteForHost(const std::string& host);
const Site& mainSite();
// "mobile" for hosts starting with "m.", "tablet" for "tablet.", else "desktop".
std::string deviceKindOfHost(const std::string& host);

}  // namespace devserver
