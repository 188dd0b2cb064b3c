#include "hit_util.hpp"

#include <sys/random.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <random>
#include <cmath>

#include "platform/hex.hpp"

namespace analytics {

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// Decodes one code point; invalid bytes count as U+FFFD so hashing never fails.
std::uint32_t nextCodePoint(std::string_view s, std::size_t& i) {
  auto c = static_cast<unsigned char>(s[i]);
  std::size_t len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (len == 0 || i + len > s.size()) {
    ++i;
    return 0xFFFD;
  }
  std::uint32_t cp = len == 1 ? c : c & (0xFF >> (len + 1));
  for (std::size_t k = 1; k < len; ++k) {
    auto cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (cc & 0x3F);
  }
  i += len;
  return cp;
}

// Marks that join the character before them into one composed sequence.
bool extendsSequence(std::uint32_t cp) {
  return (cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x1AB0 && cp <= 0x1AFF) || (cp >= 0x1DC0 && cp <= 0x1DFF) ||
         (cp >= 0x20D0 && cp <= 0x20FF) || (cp >= 0xFE00 && cp <= 0xFE0F) || (cp >= 0xFE20 && cp <= 0xFE2F) ||
         cp == 0x200D || (cp >= 0x1F3FB && cp <= 0x1F3FF) || (cp >= 0xE0100 && cp <= 0xE01EF);
}

std::uint32_t firstUtf16Unit(std::uint32_t cp) { return cp > 0xFFFF ? 0xD800 + ((cp - 0x10000) >> 10) : cp; }

}  // namespace

std::string HitUtil::systemLanguageFromLanguages(const std::vector<std::string>& languages) {
  return languages.empty() ? "en" : lower(languages.front());
}

std::string HitUtil::systemLanguage() { return systemLanguageFromLanguages(platform::Device::current().preferredLanguages); }

std::string HitUtil::systemCountryFromLocale(const platform::Locale& locale) { return lower(locale.country); }

std::string HitUtil::systemCountry() { return systemCountryFromLocale(platform::Device::current().locale); }

std::string HitUtil::userAgentStringWithProduct(std::string_view product, std::string_view version,
                                                std::string_view deviceModel, std::string_view systemName,
                                                std::string_view systemVersion, std::string_view systemLanguage,
                                                std::string_view systemCountry) {
  std::string ua;
  ua.append(product).append("/").append(version).append(" (").append(deviceModel).append("; U; CPU ");
  ua.append(systemName).append(" ").append(systemVersion).append(" like Mac OS X; ");
  ua.append(systemLanguage).append("-").append(systemCountry).append(")");
  return ua;
}

std::string HitUtil::userAgentString() {
  auto device = platform::Device::current();
  return userAgentStringWithProduct("Analytics", "2.01b", device.model, device.systemName, device.systemVersion,
                                    systemLanguage(), systemCountry());
}

std::string HitUtil::systemScreenResolution() {
  auto device = platform::Device::current();
  return std::to_string(device.screenWidth) + "x" + std::to_string(device.screenHeight);
}

std::int64_t HitUtil::millisecondsElapsed(platform::Date from, platform::Date to) {
  double ms = to.timeIntervalSince(from) * 1000.0;
  if (!(ms == ms)) return 0;
  if (ms >= 9.2e18) return INT64_MAX;
  if (ms <= -9.2e18) return INT64_MIN;
  return static_cast<std::int64_t>(ms);
}

std::uint32_t HitUtil::gaHash(std::string_view text) {
  if (text.empty()) return 1;
  // First UTF-16 unit of each composed sequence, in text order.
  std::vector<std::uint32_t> heads;
  heads.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::uint32_t cp = nextCodePoint(text, i);
    if (!heads.empty() && extendsSequence(cp)) continue;
    heads.push_back(firstUtf16Unit(cp));
  }
  std::uint32_t h = 0;
  for (auto it = heads.rbegin(); it != heads.rend(); ++it) {
    std::uint32_t c = *it;
    h = ((h << 6) & 0x0FFFFFC0u) + c + (c << 14);
    std::uint32_t g = h & 0x0FE00000u;
    if (g != 0) h ^= g >> 21;
  }
  return h;
}

std::string HitUtil::generateClientId() {
  unsigned char bytes[16];
  std::size_t filled = 0;
  while (filled < sizeof bytes) {
    ssize_t n = getrandom(bytes + filled, sizeof bytes - filled, 0);
    if (n > 0) {
      filled += static_cast<std::size_t>(n);
    } else if (errno != EINTR) {
      std::random_device device;
      while (filled < sizeof bytes) bytes[filled++] = static_cast<unsigned char>(device());
    }
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  return platform::uuidText(bytes, platform::HexCase::lower);
}

}  // namespace analytics
