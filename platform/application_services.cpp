#include "platform/application_services.hpp"

#include <atomic>
#include <mutex>

#include "platform/log.hpp"

namespace platform {
namespace {

std::atomic<int> badge{0};
std::mutex hooksMutex;
ApplicationHooks installed;

ApplicationHooks currentHooks() {
  std::lock_guard lock(hooksMutex);
  return installed;
}

}  // namespace

void installApplicationHooks(ApplicationHooks hooks) {
  std::lock_guard lock(hooksMutex);
  installed = std::move(hooks);
}

int iconBadgeNumber() { return badge.load(); }
void setIconBadgeNumber(int number) { badge.store(number); }

bool applicationIsActive() {
  auto hooks = currentHooks();
  return hooks.isActive ? hooks.isActive() : true;
}

void showApplicationAlert(const std::string& title, const std::string& message, const std::string& button) {
  auto hooks = currentHooks();
  if (hooks.showAlert) return hooks.showAlert(title, message, button);
  log("Alert: " + title + ": " + message + " [" + button + "]");
}

void playSystemSound(const std::filesystem::path& soundFile) {
  auto hooks = currentHooks();
  if (hooks.playSound) return hooks.playSound(soundFile);
  log("Sound: " + soundFile.string());
}

void playVibration() {
  auto hooks = currentHooks();
  if (hooks.playSound) return hooks.playSound({});
  log("Sound: vibration");
}

}  // namespace platform
