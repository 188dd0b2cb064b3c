#pragma once
// The user-defaults store: small settings by key, kept across launches.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/value.hpp"

namespace platform {

// Values are property-list values: strings, numbers (with their storage
// type), dates, byte buffers, arrays and dictionaries of those, and the null
// marker. They are stored as copies: editing a container after setObject, or
// one returned by objectForKey, does not change the store.
//
// Every change is written through to the file at once, atomically, as typed
// JSON (see typed_json.hpp). A file that cannot be read or decoded gives an
// empty store and a log line; the next change replaces it. All members are
// thread-safe.
class UserDefaults {
 public:
  // A store kept in the given file (its directory is created when needed).
  explicit UserDefaults(std::filesystem::path file);
  ~UserDefaults();
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  // The application's store: <sandbox>/Library/Preferences/<bundle id>.json
  // for the sandbox root and bundle in force at the call. The reference stays
  // valid for the life of the process.
  static UserDefaults& standard();

  // A copy of the stored value, or nil.
  Value objectForKey(std::string_view key) const;
  // Stores a copy of `value`; nil removes the key. Values of no stored kind
  // (shared objects, nil inside containers, trees nested deeper than 200)
  // raise InvalidArgumentException "Attempt to insert non-property list
  // object <description> for key <key>".
  void setObject(const Value& value, std::string_view key);
  // Why setObject would refuse `value`, or nullopt when it can be stored;
  // lets callers holding outside data decline it instead of raising.
  static std::optional<std::string> problemStoring(const Value& value);
  void removeObject(std::string_view key);

  // Typed reads. Strings answer stringForKey; numbers answer it with their
  // text. Numbers answer the numeric reads, and so do strings that hold a
  // number ("YES"/"true" count as true for boolForKey). Anything else (and
  // a missing key) gives nullopt / false / 0.
  std::optional<std::string> stringForKey(std::string_view key) const;
  bool boolForKey(std::string_view key) const;
  std::int64_t integerForKey(std::string_view key) const;
  double doubleForKey(std::string_view key) const;
  // The stored array / dictionary / bytes, copied, or nil when the key holds
  // something else.
  Value arrayForKey(std::string_view key) const;
  Value dictionaryForKey(std::string_view key) const;
  Value dataForKey(std::string_view key) const;

  void setBool(bool value, std::string_view key);
  void setInteger(std::int64_t value, std::string_view key);
  void setDouble(double value, std::string_view key);

  // A copy of everything stored, as a dictionary.
  Value dictionaryRepresentation() const;

  // Writes the store again if an earlier write failed; answers whether the
  // file now holds every change.
  bool synchronize();

  const std::filesystem::path& file() const noexcept;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
