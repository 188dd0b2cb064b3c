#include "platform/bundle.hpp"

#include <memory>
#include <mutex>
#include <system_error>

#include "platform/sandbox.hpp"

namespace fs = std::filesystem;

namespace platform {
namespace {

fs::path executableDirectory() {
  std::error_code error;
  fs::path executable = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::current_path(error) : executable.parent_path();
}

// "resources/" beside the program in a build tree; an installed program
// finds them under <prefix>/share/vestavind-reader/resources.
fs::path resourcesBeside(const fs::path& programDirectory) {
  std::error_code error;
  fs::path beside = programDirectory / "resources";
  if (fs::is_directory(beside, error)) return beside;
  fs::path installed = programDirectory.parent_path() / "share" / "vestavind-reader" / "resources";
  if (fs::is_directory(installed, error)) return installed;
  return beside;
}

std::mutex mainMutex;
std::shared_ptr<const Bundle> installedMain;

}  // namespace

Bundle::Bundle(const Value& infoDictionary, fs::path resourcesDirectory)
    : info_(infoDictionary.isDictionary() ? infoDictionary.deepCopy() : Value(Dictionary())),
      resources_(std::move(resourcesDirectory)) {}

Bundle Bundle::application() {
  Value info = Value::dictionary({
      {kBundleIdentifierKey, "test.vestavind.reader"},
      {kBundleNameKey, "Vestavind"},
      {kBundleDisplayNameKey, "Vestavind"},
      {kBundleVersionKey, "1.0.0"},
      {kBundleShortVersionKey, "1.0.0"},
  });
  return Bundle(info, resourcesBeside(executableDirectory()));
}

Bundle Bundle::main() {
  {
    std::lock_guard lock(mainMutex);
    if (installedMain) return *installedMain;
  }
  return application();
}

void Bundle::setMain(Bundle bundle) {
  auto next = std::make_shared<const Bundle>(std::move(bundle));
  std::lock_guard lock(mainMutex);
  installedMain = std::move(next);
}

void Bundle::resetMain() {
  std::lock_guard lock(mainMutex);
  installedMain.reset();
}

Value Bundle::infoDictionary() const { return info_.deepCopy(); }

Value Bundle::objectForInfoDictionaryKey(std::string_view key) const { return info_[key].deepCopy(); }

std::optional<std::string> Bundle::stringEntry(std::string_view key) const {
  Value entry = info_[key];
  if (const std::string* text = entry.string()) return *text;
  return std::nullopt;
}

std::optional<std::string> Bundle::identifier() const { return stringEntry(kBundleIdentifierKey); }
std::optional<std::string> Bundle::name() const { return stringEntry(kBundleNameKey); }
std::optional<std::string> Bundle::displayName() const { return stringEntry(kBundleDisplayNameKey); }
std::optional<std::string> Bundle::version() const { return stringEntry(kBundleVersionKey); }
std::optional<std::string> Bundle::shortVersion() const { return stringEntry(kBundleShortVersionKey); }

std::optional<fs::path> Bundle::pathForResource(std::string_view name, std::string_view type) const {
  std::string fileName(name);
  if (!type.empty()) {
    fileName += '.';
    fileName += type;
  }
  if (name.empty() || fileName.find('/') != std::string::npos) return std::nullopt;
  std::optional<fs::path> path = pathInside(resources_, fileName);
  std::error_code error;
  if (!path || !fs::is_regular_file(*path, error)) return std::nullopt;
  return path;
}

}  // namespace platform
