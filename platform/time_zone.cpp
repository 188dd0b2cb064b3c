#include "platform/time_zone.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>

namespace platform {
namespace {

std::string trimmed(std::string text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

std::optional<std::string> fromEnvironment() {
  const char* tz = std::getenv("TZ");
  if (!tz) return std::nullopt;
  std::string_view name = tz;
  if (!name.empty() && name.front() == ':') name.remove_prefix(1);
  // A path form (":/usr/share/zoneinfo/Europe/Oslo") names its zone by the tail.
  if (const auto at = name.find("zoneinfo/"); at != std::string_view::npos) name.remove_prefix(at + 9);
  if (name.empty() || name.front() == '/') return std::nullopt;
  return std::string(name);
}

std::optional<std::string> fromTimezoneFile() {
  std::ifstream file("/etc/timezone");
  std::string line;
  if (!file || !std::getline(file, line)) return std::nullopt;
  line = trimmed(line);
  if (line.empty()) return std::nullopt;
  return line;
}

std::optional<std::string> fromLocaltimeLink() {
  std::error_code error;
  const auto target = std::filesystem::read_symlink("/etc/localtime", error);
  if (error) return std::nullopt;
  const std::string text = target.generic_string();
  const auto at = text.find("zoneinfo/");
  if (at == std::string::npos) return std::nullopt;
  return text.substr(at + 9);
}

}  // namespace

std::string systemTimeZoneName() {
  if (auto name = fromEnvironment()) return *name;
  if (auto name = fromTimezoneFile()) return *name;
  if (auto name = fromLocaltimeLink()) return *name;
  return "UTC";
}

}  // namespace platform
