#include "app/menu_config_loader.hpp"

#include "app/http_get.hpp"
#include "app/site_constants.hpp"
#include "platform/json.hpp"
#include "platform/log.hpp"

namespace app {
namespace {

platform::Value fetchConfiguration() {
  const auto answer = httpGet(menuConfigURL());
  if (!answer) {
    platform::log("Menu configuration: download failed");
    return {};
  }
  // An error page is not a configuration, even when it happens to be JSON.
  if (answer->status < 200 || answer->status > 299) {
    platform::log("Menu configuration: HTTP status " + std::to_string(answer->status));
    return {};
  }
  auto decoded = platform::json::parse(answer->body);
  if (!decoded) {
    platform::log("Menu configuration: not JSON");
    return {};
  }
  // The JSON reader takes deeper trees than the store keeps; such a tree is
  // no menu anyone means, and storing it would raise during start-up.
  if (auto problem = platform::UserDefaults::problemStoring(decoded.value())) {
    platform::log("Menu configuration: cannot be kept: " + *problem);
    return {};
  }
  return std::move(decoded).value();
}

}  // namespace

std::string menuConfigURL() { return std::string(kMainSiteURL) + std::string(kMenuConfigPath); }

void loadMenuConfig(platform::UserDefaults& defaults) {
  const platform::Value configuration = fetchConfiguration();
  if (configuration.isNil()) {
    defaults.removeObject(kMenuConfigKey);
    return;
  }
  defaults.setObject(configuration, kMenuConfigKey);
}

}  // namespace app
