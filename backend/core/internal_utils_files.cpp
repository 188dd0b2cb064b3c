// The backend's directories and data files inside the platform sandbox.

#include <mutex>
#include <system_error>

#include "backend/internal/client_configuration.hpp"
#include "backend/internal/internal_utils.hpp"
#include "platform/exceptions.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"

namespace backend {
namespace fs = std::filesystem;

namespace {

std::mutex& cacheClearerMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<void()>& cacheClearer() {
  static std::function<void()> clear;
  return clear;
}

void createDirectories(const fs::path& path) {
  std::error_code error;
  fs::create_directories(path, error);
  if (error) platform::log("Unable to create directory " + path.string() + ": " + error.message());
}

// Removes a directory that exists, lists without error and is empty.
void removeIfEmpty(const fs::path& directory) {
  std::error_code error;
  if (!fs::is_directory(directory, error)) return;
  fs::directory_iterator entries(directory, error);
  if (error || entries != fs::directory_iterator()) return;
  fs::remove(directory, error);
}

bool isInside(const fs::path& path, const fs::path& directory) {
  auto [end, _] = std::mismatch(directory.begin(), directory.end(), path.begin(), path.end());
  return end == directory.end();
}

}  // namespace

fs::path InternalUtils::privateDataDir() {
  fs::path directory = platform::Sandbox::library() / "Private Documents" / "Backend";
  createDirectories(directory);
  skipBackupOnPath(directory);
  return directory;
}

fs::path InternalUtils::deprecatedDataDir() {
  fs::path directory = platform::Sandbox::documents() / "Backend";
  removeIfEmpty(directory);
  return directory;
}

fs::path InternalUtils::dataFilePath(std::string_view name) {
  ClientConfiguration::applicationId();  // raises when not configured
  auto path = platform::pathInside(privateDataDir(), name);
  if (!path || name.find('/') != std::string_view::npos)
    throw platform::InvalidArgumentException("Invalid data file name: " + std::string(name));
  std::error_code error;
  if (fs::exists(*path, error)) return *path;
  const fs::path deprecated = platform::Sandbox::documents() / "Backend";
  const fs::path old = deprecated / name;
  if (fs::exists(old, error)) {
    fs::rename(old, *path, error);
    if (error) platform::log("Unable to move " + old.string() + " to " + path->string() + ": " + error.message());
  }
  removeIfEmpty(deprecated);
  return *path;
}

fs::path InternalUtils::cacheDir(std::string_view name) {
  const fs::path caches = platform::Sandbox::caches().lexically_normal();
  fs::path directory = (caches / "Backend" / fs::path(name)).lexically_normal();
  // A trailing separator normalises to an empty last element; drop it.
  if (!directory.empty() && directory.filename().empty()) directory = directory.parent_path();
  if (name.find('\0') != std::string_view::npos || !isInside(directory, caches) || directory == caches)
    throw platform::InvalidArgumentException("Invalid cache directory name: " + std::string(name));
  createDirectories(directory);
  return directory;
}

void InternalUtils::deleteDirectoryContents(const fs::path& path) {
  std::error_code error;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  if (error) {
    platform::log("Failed to list directory " + path.string());
    return;
  }
  for (const auto& entry : entries) {
    std::error_code removeError;
    fs::remove_all(entry, removeError);
    if (removeError) platform::log("Failed to delete file " + entry.string() + ": " + removeError.message());
  }
}

bool InternalUtils::skipBackupOnPath(const fs::path& path) { return platform::setExcludedFromBackup(path); }

void InternalUtils::setMainCacheClearer(std::function<void()> clear) {
  std::lock_guard lock(cacheClearerMutex());
  cacheClearer() = std::move(clear);
}

void InternalUtils::checkCacheApplicationId() {
  const std::string applicationId = ClientConfiguration::applicationId();
  const fs::path file = dataFilePath("applicationId");
  std::error_code error;
  if (auto stored = platform::readFile(file); stored && *stored != applicationId) {
    std::function<void()> clear;
    {
      std::lock_guard lock(cacheClearerMutex());
      clear = cacheClearer();
    }
    if (clear) clear();
    fs::remove_all(platform::Sandbox::documents() / "Backend", error);
    fs::remove_all(platform::Sandbox::library() / "Private Documents" / "Backend", error);
    // The id in memory belonged to the wiped file; keeping it would hand out
    // an id that is on disk nowhere.
    clearCachedInstallationId();
  }
  const fs::path current = dataFilePath("applicationId");
  if (!fs::exists(current, error)) {
    if (auto writeError = platform::writeFileAtomically(current, applicationId))
      platform::log("Unable to create applicationId file: " + writeError.message());
  }
}

}  // namespace backend
