#pragma once
// Fetches the publisher's menu configuration and keeps it in user defaults.

#include <string>

#include "platform/user_defaults.hpp"

namespace app {

// kMainSiteURL + "/iosapp/menuconfig/".
std::string menuConfigURL();

// Downloads the configuration (blocking) and stores the decoded value under
// "kMenuConfig", replacing what was there. Any JSON value is accepted at the
// top level. When the download fails, the answer is not a success (2xx), the
// body is not JSON, or the store cannot keep it (nested too deep), the stored
// value is removed. Never throws for bad
// answers; start-up goes on either way.
void loadMenuConfig(platform::UserDefaults& defaults);

}  // namespace app
