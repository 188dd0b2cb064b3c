#pragma once
// Facts about the device the program runs on, for request headers and
// analytics: system, locale and the screen the front end reports.

#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct Locale {
  std::string language;  // lower case, "en" when the locale names none ("C", "POSIX")
  std::string country;   // upper case, empty when the locale names none

  // "nb_NO.UTF-8@euro" -> {"nb", "NO"}; "C", "POSIX" and "" -> {"en", ""}.
  static Locale parse(std::string_view posixLocale);
  // "nb-NO", or "nb" without a country.
  std::string tag() const;
};

struct Device {
  std::string model;          // the machine type, e.g. "x86_64"
  std::string systemName;     // e.g. "Linux"
  std::string systemVersion;  // the kernel release
  Locale locale;
  // Language tags in order of preference, never empty.
  std::vector<std::string> preferredLanguages;
  // The main screen in points; 0 x 0 while the front end has reported none.
  int screenWidth = 0;
  int screenHeight = 0;
  double screenScale = 1.0;

  // From uname() and the environment: the locale from LC_ALL, else
  // LC_MESSAGES, else LANG; the preferred languages from LANGUAGE (a colon
  // list), else the locale's tag.
  static Device fromEnvironment();

  // The facts in force (fromEnvironment() on first use). Thread-safe.
  static Device current();
  // Replaces them (tests).
  static void setCurrent(Device device);
  // Records the main screen's size (the front end, when its window appears).
  static void setScreen(int width, int height, double scale);
};

}  // namespace platform
