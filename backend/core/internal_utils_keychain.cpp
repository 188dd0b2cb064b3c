// Keychain items for the backend client, stored in the platform keychain.
// A value is archived as its typed JSON text.

#include "backend/internal/internal_utils.hpp"
#include "platform/keychain.hpp"

namespace backend {

Value InternalUtils::getKeychainQuery(std::string_view name) {
  return Value::dictionary({{"class", Value("genericPassword")},
                            {"service", Value(name)},
                            {"account", Value(name)},
                            {"accessible", Value("afterFirstUnlock")}});
}

bool InternalUtils::saveToKeychain(std::string_view name, const Value& value) {
  const std::string archived =
      encodeToJSON(value, UnsavedChildren::Disallow, DataObjects::Disallow);
  auto keychain = platform::Keychain::standard();
  keychain.remove(name, name);
  return keychain.set(name, name, platform::Bytes(archived.begin(), archived.end()));
}

Value InternalUtils::loadFromKeychain(std::string_view name) {
  auto data = platform::Keychain::standard().get(name, name);
  if (!data) return Value();
  return decodeObject(parseJSON(std::string_view(reinterpret_cast<const char*>(data->data()), data->size())));
}

bool InternalUtils::deleteFromKeychain(std::string_view name) {
  return platform::Keychain::standard().remove(name, name);
}

}  // namespace backend
