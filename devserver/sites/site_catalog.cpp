#include "sites/site_catalog.hpp"

#include <algorithm>

namespace devserver {

const std::vector<Site>& siteCatalog() {
  static const std::vector<Site> sites = {
      {"vestavind", "Vestavind", "Nyheter fra kysten og verden", "kNavBarVestavind", "kNavBarVestavindSection",
       "www.vestavind.test",
       {"www.vestavind.test", "m.vestavind.test", "tablet.vestavind.test", "vv.test", "m.vv.test"},
       {{"nyheter", "Nyheter"},
        {"innenriks", "Innenriks"},
        {"utenriks", "Utenriks"},
        {"sport", "Sport"},
        {"kultur", "Kultur"},
        {"okonomi", "Økonomi"}}},
      {"glimt", "Glimt", "Kjendiser, tv og folk", "kNavBarGlimt", "kNavBarGlimtSection", "www.glimt.test",
       {"www.glimt.test"},
       {{"kjendis", "Kjendis"}, {"tv", "TV"}, {"musikk", "Musikk"}, {"livsstil", "Livsstil"}}},
      {"joypunkt", "Joypunkt", "Alt om spill", "kNavBarJoypunkt", "kNavBarJoypunktSection", "www.joypunkt.test",
       {"www.joypunkt.test", "m.joypunkt.test"},
       {{"anmeldelser", "Anmeldelser"}, {"nyheter", "Spillnyheter"}, {"konsoll", "Konsoll"}, {"pc", "PC"}}},
      {"strima", "Strima", "Nett-tv fra Vestavind", "kNavBarStrima", "kNavBarStrimaSection", "www.strima.test",
       {"www.strima.test"},
       {{"nyheter", "Nyhetsklipp"}, {"sport", "Sportsklipp"}, {"underholdning", "Underholdning"}}},
      {"kanal", "Kanal", "Hva går på tv i kveld?", "kNavBarKanal", "kNavBarKanalSection", "www.kanal.test",
       {"www.kanal.test"},
       {{"idag", "I dag"}, {"film", "Film"}, {"serier", "Serier"}, {"sport", "Sport på tv"}}},
      {"spillboks", "Spillboks", "Små spill for lange pauser", "kNavBarSpillboks", "kNavBarSpillboksSection",
       "www.spillboks.test",
       {"www.spillboks.test"},
       {{"puslespill", "Puslespill"}, {"kortspill", "Kortspill"}, {"ordspill", "Ordspill"}}},
  };
  return sites;
}

const Site* siteForHost(const std::string& host) {
  for (const Site& site : siteCatalog()) {
    if (std::find(site.hosts.begin(), site.hosts.end(), host) != site.hosts.end()) return &site;
  }
  return nullptr;
}

const Site& mainSite() { return siteCatalog().front(); }

std::string deviceKindOfHost(const std::string& host) {
  if (host.rfind("m.", 0) == 0) return "mobile";
  if (host.rfind("tablet.", 0) == 0) return "tablet";
  return "desktop";
}

}  // namespace devserver
