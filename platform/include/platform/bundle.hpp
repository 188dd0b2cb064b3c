#pragma once
// Facts about the application package: its identity, version and where its
// resources (images, sounds, pages) are installed.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/value.hpp"

namespace platform {

// The info-dictionary keys the system reads.
inline constexpr const char* kBundleIdentifierKey = "CFBundleIdentifier";
inline constexpr const char* kBundleNameKey = "CFBundleName";
inline constexpr const char* kBundleDisplayNameKey = "CFBundleDisplayName";
inline constexpr const char* kBundleVersionKey = "CFBundleVersion";
inline constexpr const char* kBundleShortVersionKey = "CFBundleShortVersionString";

class Bundle {
 public:
  // A bundle with the given info dictionary (copied; a non-dictionary counts
  // as empty) and resources directory.
  Bundle(const Value& infoDictionary, std::filesystem::path resourcesDirectory);

  // The application's own facts: identifier "test.vestavind.reader", name and
  // display name "Vestavind", version and short version "1.0.0"; resources in
  // "resources/" beside the running executable, or, for an installed one,
  // in "../share/vestavind-reader/resources/" from it.
  static Bundle application();

  // The bundle in force: application() unless a test or the start-up code
  // installed another. Returned by value; thread-safe.
  static Bundle main();
  static void setMain(Bundle bundle);
  // Back to application().
  static void resetMain();

  // A copy of the info dictionary.
  Value infoDictionary() const;
  // A copy of one entry, nil when missing.
  Value objectForInfoDictionaryKey(std::string_view key) const;

  // The entries above when present as strings, else nullopt.
  std::optional<std::string> identifier() const;
  std::optional<std::string> name() const;
  std::optional<std::string> displayName() const;
  std::optional<std::string> version() const;
  std::optional<std::string> shortVersion() const;

  const std::filesystem::path& resourcesDirectory() const noexcept { return resources_; }

  // The path of resource "<name>.<type>" (or "<name>" when type is empty)
  // when such a regular file exists in the resources directory. Names that
  // would leave the directory ("..", absolute, NUL) give nullopt.
  std::optional<std::filesystem::path> pathForResource(std::string_view name, std::string_view type) const;

 private:
  std::optional<std::string> stringEntry(std::string_view key) const;

  Value info_;
  std::filesystem::path resources_;
};

}  // namespace platform
