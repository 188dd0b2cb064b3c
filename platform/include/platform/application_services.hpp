#pragma once
// What the libraries below the UI need of the application object: the icon
// badge, whether the application is in the foreground, a one-button alert,
// and sounds. The badge lives here so any thread may read it; the UI layer
// installs the rest when its application object comes up. Until then the
// application counts as active, alerts and sounds are logged.

#include <filesystem>
#include <functional>
#include <string>

namespace platform {

struct ApplicationHooks {
  // True while the application is in the foreground. Main thread.
  std::function<bool()> isActive;
  // Shows an alert with one button. Main thread.
  std::function<void(const std::string& title, const std::string& message, const std::string& button)> showAlert;
  // Plays a sound file, or with an empty path the vibration sound.
  std::function<void(const std::filesystem::path& soundFile)> playSound;
};

// Installs the hooks; empty members keep the logging defaults. Thread-safe.
void installApplicationHooks(ApplicationHooks hooks);

// The icon badge number. Thread-safe.
int iconBadgeNumber();
void setIconBadgeNumber(int number);

bool applicationIsActive();
void showApplicationAlert(const std::string& title, const std::string& message, const std::string& button);
// The sound file from the application's resources.
void playSystemSound(const std::filesystem::path& soundFile);
// The stand-in for the vibration sound (system sound 4095).
void playVibration();

}  // namespace platform
