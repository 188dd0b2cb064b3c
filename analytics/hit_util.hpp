#pragma once
// Device and hit helpers: user agent, language, country, screen resolution,
// client ids and the 28-bit string hash used for sampling. Class operations only.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/date.hpp"
#include "platform/device.hpp"

namespace analytics {

class HitUtil {
 public:
  HitUtil() = delete;

  // The first language lower-cased, or "en" for an empty list.
  static std::string systemLanguageFromLanguages(const std::vector<std::string>& languages);
  // systemLanguageFromLanguages over the device's preferred languages.
  static std::string systemLanguage();
  // The locale's country code lower-cased.
  static std::string systemCountryFromLocale(const platform::Locale& locale);
  static std::string systemCountry();

  // "<product>/<version> (<model>; U; CPU <system> <version> like Mac OS X; <language>-<country>)".
  static std::string userAgentStringWithProduct(std::string_view product, std::string_view version,
                                                std::string_view deviceModel, std::string_view systemName,
                                                std::string_view systemVersion, std::string_view systemLanguage,
                                                std::string_view systemCountry);
  // The same for "Analytics" "2.01b" and this device.
  static std::string userAgentString();

  // The main screen in whole points as "<width>x<height>"; "0x0" when none was reported.
  static std::string systemScreenResolution();
  static std::string systemScreenColorDepth() { return "24-bit"; }

  // (to - from) in milliseconds, truncated.
  static std::int64_t millisecondsElapsed(platform::Date from, platform::Date to);

  // The 28-bit hash of a UTF-8 string (1 for the empty string).
  static std::uint32_t gaHash(std::string_view text);

  // A new random (version 4) UUID in lower-case text form.
  static std::string generateClientId();
};

}  // namespace analytics
