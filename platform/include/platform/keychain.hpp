#pragma once
// The keychain: small secrets (generic-password items) kept by service and
// account, readable only by the user.

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/value.hpp"

namespace platform {

// Items live in one file (typed JSON, see typed_json.hpp) of mode 0600,
// replaced atomically on every change. A file that cannot be decoded counts
// as empty (with a log line) and is replaced by the next change. Every call
// reads the file, so several Keychain objects on one file agree. Thread-safe.
class Keychain {
 public:
  explicit Keychain(std::filesystem::path file);

  // The application's keychain: <sandbox root>/keychain.json for the root in
  // force at the call.
  static Keychain standard();

  // The item's data, or nullopt when there is none.
  std::optional<Bytes> get(std::string_view service, std::string_view account) const;
  // Adds the item or replaces its data. False (with a log line) when the
  // file cannot be written; the previous content then stays.
  bool set(std::string_view service, std::string_view account, const Bytes& data);
  // Removes the item; true when it is gone afterwards (also when there was
  // none), false when the file cannot be written.
  bool remove(std::string_view service, std::string_view account);

  const std::filesystem::path& file() const noexcept { return file_; }

 private:
  std::filesystem::path file_;
};

}  // namespace platform
