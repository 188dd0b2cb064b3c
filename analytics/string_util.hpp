#pragma once
// Text helpers of the wire format: percent encoding, query decoding and
// number texts. Class operations only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/value.hpp"

namespace analytics {

class StringUtil {
 public:
  StringUtil() = delete;

  // Without white space and line breaks at either end.
  static std::string trim(std::string_view text);
  static std::string intString(std::int64_t value);
  static std::string uintString(std::uint64_t value);
  // "%.*f", then trailing zeros after the decimal point and a trailing point
  // removed: 2.5 with 3 decimals gives "2.5", 2.0 gives "2", 100 with 0 gives "100".
  static std::string decimalString(double value, int decimals);
  // An amount in millionths: 500000 -> ".5", -1500000 -> "-1.5", 3000000 -> "3".
  static std::string currencyMicrosString(std::int64_t micros);

  // UTF-8 bytes other than letters, digits, "-", ".", "_", "~", "'" and the
  // space become "%XX" (upper-case hex); spaces become "+".
  static std::string percentEncode(std::string_view text);
  // "+" becomes a space, then "%XX" escapes are decoded. nullopt when the
  // result is not valid UTF-8; a malformed escape is kept as it stands.
  static std::optional<std::string> percentDecode(std::string_view text);
  // Splits at "&", each part at its first "="; both sides percent-decoded; a
  // part without "=" maps to ""; later parts win; a part that does not decode
  // is skipped. A dictionary of strings.
  static platform::Dictionary decodeParametersFromQuery(std::string_view query);
  // The decoded query of an absolute URL ("scheme:..."); an empty dictionary
  // when it has no query; nullopt when the text is not a URL.
  static std::optional<platform::Dictionary> decodeParametersFromUrl(std::string_view url);
  // The text after the first "?", or "".
  static std::string urlParams(std::string_view url);
  // Without one leading "&".
  static std::string stripLeadingAmpersand(std::string_view text);
};

}  // namespace analytics
