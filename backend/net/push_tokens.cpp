// Device tokens: their text form, the current installation and the keychain.

#include "backend/installation.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/push.hpp"

namespace backend {

std::string Push::convertDeviceTokenToString(const Value& token) {
  return Installation::convertDeviceTokenToString(token);
}

void Push::storeDeviceToken(const Value& token) {
  const std::string text = convertDeviceTokenToString(token);
  storeDeviceTokenOnKeychain(text);
  Installation::currentInstallation()->setDeviceToken(text);
}

bool Push::storeDeviceTokenOnKeychain(const std::string& token) {
  return InternalUtils::saveToKeychain(kDeviceTokenKeychainItem, Value(token));
}

std::optional<std::string> Push::getDeviceTokenFromKeychain() {
  const Value token = InternalUtils::loadFromKeychain(kDeviceTokenKeychainItem);
  return token.isString() ? std::optional<std::string>(*token.string()) : std::nullopt;
}

void Push::clearDeviceToken() {
  InternalUtils::deleteFromKeychain(kDeviceTokenKeychainItem);
  Installation::currentInstallation()->clearDeviceToken();
}

}  // namespace backend
