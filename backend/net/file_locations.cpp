#include "file_locations.hpp"

#include <charconv>
#include <mutex>
#include <set>

#include "backend/http/url.hpp"
#include "backend/internal/internal_utils.hpp"

namespace backend::file_locations {
namespace {

// Leaves room below NAME_MAX for the staging prefix.
constexpr std::size_t kMaxNameBytes = 200;

// Cuts at a character boundary so a UTF-8 name stays valid.
std::string cutToLength(std::string text) {
  if (text.size() <= kMaxNameBytes) return text;
  std::size_t end = kMaxNameBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

}  // namespace

std::string safeFileName(std::string_view text) {
  std::string name;
  name.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    name.push_back(byte < 0x20 || byte == 0x7f || c == '/' || c == '\\' ? '_' : c);
  }
  if (name.empty()) return "_";
  if (name == "." || name == "..") name = "_" + name;
  return cutToLength(std::move(name));
}

std::string lastPathComponentOfURL(std::string_view url) {
  auto parts = http::parseURL(url);
  std::string_view path = parts ? std::string_view(parts->path) : url.substr(0, url.find_first_of("?#"));
  while (!path.empty() && path.back() == '/') path.remove_suffix(1);
  const auto slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::filesystem::path cacheDirectory() { return InternalUtils::cacheDir("BEFileCache"); }

std::filesystem::path stagingDirectory() {
  static std::mutex mutex;
  static std::set<std::filesystem::path> emptied;
  const auto directory = (InternalUtils::privateDataDir() / "BEFileStaging").lexically_normal();
  std::lock_guard lock(mutex);
  if (emptied.insert(directory).second) {
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
  }
  std::error_code ignored;
  std::filesystem::create_directories(directory, ignored);
  return directory;
}

std::optional<std::filesystem::path> cachePathForURL(const std::optional<std::string>& url) {
  if (!url) return std::nullopt;
  return cacheDirectory() / safeFileName(lastPathComponentOfURL(*url));
}

std::filesystem::path stagingPath(const void* identity, const std::optional<std::string>& name) {
  char text[32] = "0x";
  auto end = std::to_chars(text + 2, text + sizeof text, reinterpret_cast<std::uintptr_t>(identity), 16).ptr;
  return stagingDirectory() / safeFileName(std::string(text, end) + "_" + name.value_or("(null)"));
}

}  // namespace backend::file_locations
