#pragma once

#include <nlohmann/json.hpp>

namespace devserver {

// The reader's menu configuration: {"Vestavind": [entry, ...], "version": 1}.
// The main site's sections come first ("kNavBarVestavindSection"), then one
// entry per sister site with the site's front page as "url" and its sections
// as "submenu"; the casual-games site has an empty "submenu".
nlohmann::json menuConfiguration();

}  // namespace devserver
