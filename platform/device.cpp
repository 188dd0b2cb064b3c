#include "platform/device.hpp"

#include <sys/utsname.h>

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace platform {
namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string raised(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::vector<std::string> languagesFrom(std::string_view list, const Locale& fallback) {
  std::vector<std::string> languages;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view entry = list.substr(start, end - start);
    if (!entry.empty()) languages.push_back(Locale::parse(entry).tag());
    start = end + 1;
  }
  if (languages.empty()) languages.push_back(fallback.tag());
  return languages;
}

std::mutex currentMutex;
std::optional<Device> installed;

}  // namespace

Locale Locale::parse(std::string_view posixLocale) {
  std::string_view name = posixLocale.substr(0, posixLocale.find_first_of(".@"));
  if (name.empty() || name == "C" || name == "POSIX") return {"en", ""};
  std::size_t separator = name.find_first_of("_-");
  if (separator == std::string_view::npos) return {lowered(name), ""};
  return {lowered(name.substr(0, separator)), raised(name.substr(separator + 1))};
}

std::string Locale::tag() const { return country.empty() ? language : language + "-" + country; }

Device Device::fromEnvironment() {
  Device device;
  utsname system{};
  if (::uname(&system) == 0) {
    device.model = system.machine;
    device.systemName = system.sysname;
    device.systemVersion = system.release;
  }
  std::string posixLocale = environment("LC_ALL");
  if (posixLocale.empty()) posixLocale = environment("LC_MESSAGES");
  if (posixLocale.empty()) posixLocale = environment("LANG");
  device.locale = Locale::parse(posixLocale);
  device.preferredLanguages = languagesFrom(environment("LANGUAGE"), device.locale);
  return device;
}

Device Device::current() {
  std::lock_guard lock(currentMutex);
  if (!installed) installed = fromEnvironment();
  return *installed;
}

void Device::setCurrent(Device device) {
  std::lock_guard lock(currentMutex);
  installed = std::move(device);
}

void Device::setScreen(int width, int height, double scale) {
  std::lock_guard lock(currentMutex);
  if (!installed) installed = fromEnvironment();
  installed->screenWidth = width;
  installed->screenHeight = height;
  installed->screenScale = scale;
}

}  // namespace platform
