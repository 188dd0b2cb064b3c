#include "string_util.hpp"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace analytics {

namespace {

bool isTrimmed(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

bool isUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~' || c == '\'';
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t len;
    std::uint32_t cp;
    if (c < 0x80) { ++i; continue; }
    if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
    else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
    else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
    else return false;
    if (i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not text.
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

}  // namespace

std::string StringUtil::trim(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && isTrimmed(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && isTrimmed(static_cast<unsigned char>(text[end - 1]))) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string StringUtil::intString(std::int64_t value) { return std::to_string(value); }

std::string StringUtil::uintString(std::uint64_t value) { return std::to_string(value); }

std::string StringUtil::decimalString(double value, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 30) decimals = 30;
  // The decimal point is "." whatever the process locale.
  char buffer[512];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (error != std::errc()) return {};
  std::string text(buffer, end);
  // Only digits after a decimal point are padding; "100" must stay "100".
  if (text.find('.') == std::string::npos) return text;
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

std::string StringUtil::currencyMicrosString(std::int64_t micros) {
  const char* sign = micros < 0 ? "-" : "";
  // Magnitude in unsigned arithmetic so the most negative amount has one.
  std::uint64_t magnitude = micros < 0 ? ~static_cast<std::uint64_t>(micros) + 1 : static_cast<std::uint64_t>(micros);
  std::uint64_t whole = magnitude / 1000000;
  auto fraction = static_cast<unsigned>(magnitude % 1000000);
  char buffer[64];
  if (fraction == 0) {
    std::snprintf(buffer, sizeof buffer, "%s%" PRIu64, sign, whole);
    return buffer;
  }
  char digits[8];
  std::snprintf(digits, sizeof digits, "%06u", fraction);
  std::string fractionText = digits;
  while (fractionText.back() == '0') fractionText.pop_back();
  if (whole == 0) {
    std::snprintf(buffer, sizeof buffer, "%s.%s", sign, fractionText.c_str());
  } else {
    std::snprintf(buffer, sizeof buffer, "%s%" PRIu64 ".%s", sign, whole, fractionText.c_str());
  }
  return buffer;
}

std::string StringUtil::percentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (isUnreserved(c)) {
      out.push_back(ch);
    } else if (c == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out;
}

std::optional<std::string> StringUtil::percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  if (!isValidUtf8(out)) return std::nullopt;
  return out;
}

platform::Dictionary StringUtil::decodeParametersFromQuery(std::string_view query) {
  platform::Dictionary result;
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t amp = query.find('&', start);
    if (amp == std::string_view::npos) amp = query.size();
    std::string_view part = query.substr(start, amp - start);
    start = amp + 1;
    if (part.empty()) continue;
    std::size_t eq = part.find('=');
    auto name = percentDecode(part.substr(0, eq));
    std::optional<std::string> value = std::string();
    if (eq != std::string_view::npos) value = percentDecode(part.substr(eq + 1));
    if (!name || !value) continue;
    result.set(std::move(*name), platform::Value(std::move(*value)));
  }
  return result;
}

std::optional<platform::Dictionary> StringUtil::decodeParametersFromUrl(std::string_view url) {
  // A URL starts with a scheme: a letter, then letters, digits, "+", "-", ".", then ":".
  std::size_t colon = url.find(':');
  if (colon == 0 || colon == std::string_view::npos) return std::nullopt;
  for (std::size_t i = 0; i < colon; ++i) {
    auto c = static_cast<unsigned char>(url[i]);
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
    if (!ok) return std::nullopt;
  }
  for (char c : url) {
    if (static_cast<unsigned char>(c) <= ' ') return std::nullopt;
  }
  std::size_t q = url.find('?');
  if (q == std::string_view::npos) return platform::Dictionary();
  std::string_view query = url.substr(q + 1);
  query = query.substr(0, query.find('#'));
  return decodeParametersFromQuery(query);
}

std::string StringUtil::urlParams(std::string_view url) {
  std::size_t q = url.find('?');
  return q == std::string_view::npos ? std::string() : std::string(url.substr(q + 1));
}

std::string StringUtil::stripLeadingAmpersand(std::string_view text) {
  if (!text.empty() && text.front() == '&') text.remove_prefix(1);
  return std::string(text);
}

}  // namespace analytics
