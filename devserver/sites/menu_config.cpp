#include "sites/menu_config.hpp"

#include "sites/site_catalog.hpp"

namespace devserver {
namespace {

nlohmann::json sectionEntry(const Site& site, const SiteSection& section) {
  return {{"title", section.title},
          {"url", "http://" + site.desktopHost + "/" + section.slug + "/"},
          {"navtype", site.sectionNavType}};
}

}  // namespace

nlohmann::json menuConfiguration() {
  nlohmann::json entries = nlohmann::json::array();
  const Site& main = mainSite();
  for (const SiteSection& section : main.sections) entries.push_back(sectionEntry(main, section));
  for (const Site& site : siteCatalog()) {
    if (site.key == main.key) continue;
    nlohmann::json submenu = nlohmann::json::array();
    // The casual-games site lists no sections in the menu: its entry opens the front page only.
    if (site.key != "spillboks") {
      for (const SiteSection& section : site.sections) submenu.push_back(sectionEntry(site, section));
    }
    entries.push_back({{"title", site.name},
                       {"url", "http://" + site.desktopHost},
                       {"navtype", site.frontNavType},
                       {"submenu", submenu}});
  }
  return {{"Vestavind", entries}, {"version", 1}};
}

}  // namespace devserver
