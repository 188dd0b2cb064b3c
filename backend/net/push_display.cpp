// Showing a push that arrives while the application is in the foreground.

#include <climits>
#include <cmath>
#include <filesystem>

#include "backend/push.hpp"
#include "platform/application_services.hpp"
#include "platform/bundle.hpp"

namespace backend {
namespace {

void playSound(const Value& sound) {
  if (sound.isString() && !sound.string()->empty() && *sound.string() != "default") {
    const std::filesystem::path name(*sound.string());
    std::string type = name.extension().string();
    if (!type.empty()) type.erase(0, 1);
    // The bundle refuses names that would leave its resources directory.
    if (auto file = platform::Bundle::main().pathForResource(name.stem().string(), type)) {
      platform::playSystemSound(*file);
      return;
    }
  }
  platform::playVibration();
}

}  // namespace

void Push::handlePush(const Value& userInfo) {
  if (!platform::applicationIsActive()) return;
  const Value aps = userInfo["aps"];
  if (!aps.isDictionary()) return;
  if (const Value alert = aps["alert"]; alert.isString()) {
    platform::showApplicationAlert(platform::Bundle::main().name().value_or(""), *alert.string(), "OK");
  }
  // A badge from the network is only taken when the icon can show it.
  if (const Value badge = aps["badge"]; badge.isNumber()) {
    const double number = badge.doubleValue();
    if (number >= 0 && number <= INT_MAX && std::floor(number) == number) {
      platform::setIconBadgeNumber(static_cast<int>(number));
    }
  }
  playSound(aps["sound"]);
}

}  // namespace backend
