#include "typed_value.hpp"

#include "backend_error.hpp"
#include "request_signature.hpp"

#include <openssl/rand.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace devserver::backend {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

bool readDigits(std::string_view text, std::size_t pos, std::size_t count, int& out) {
  if (pos + count > text.size()) return false;
  out = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    out = out * 10 + (text[i] - '0');
  }
  return true;
}

const Json* stringMember(const Json& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() ? &*it : nullptr;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

bool isWebUrl(std::string_view url) {
  for (std::string_view scheme : {"http://", "https://"}) {
    if (startsWithNoCase(url, scheme) && url.size() > scheme.size()) return true;
  }
  return false;
}

Json normalizeTyped(const Json& value) {
  const std::string& type = value["__type"].get_ref<const std::string&>();
  if (type == "Date") {
    const Json* iso = stringMember(value, "iso");
    auto millis = iso ? parseTimestamp(iso->get_ref<const std::string&>()) : std::nullopt;
    if (!millis) throw BackendError(code::kIncorrectType, "invalid Date: \"iso\" must be yyyy-MM-ddTHH:mm:ss.SSSZ");
    return dateValue(*millis);
  }
  if (type == "Bytes") {
    const Json* data = stringMember(value, "base64");
    if (!data || !base64Decode(data->get_ref<const std::string&>())) {
      throw BackendError(code::kIncorrectType, "invalid Bytes: \"base64\" must be padded Base64 text");
    }
    return Json{{"__type", "Bytes"}, {"base64", *data}};
  }
  if (type == "Pointer") {
    if (value.contains("localId") && !value.contains("objectId")) {
      throw BackendError(code::kInvalidPointer, "invalid pointer: it names an unsaved object (localId)");
    }
    auto pointer = asPointer(value);
    if (!pointer) throw BackendError(code::kInvalidPointer, "invalid pointer: needs string \"className\" and \"objectId\"");
    return pointerValue(pointer->className, pointer->objectId);
  }
  if (type == "File") {
    const Json* name = stringMember(value, "name");
    const Json* url = stringMember(value, "url");
    if (!name || !url) throw BackendError(code::kIncorrectType, "invalid File: it must be uploaded (\"name\" and \"url\")");
    // Clients download what the URL names, so only web addresses are kept.
    if (!isWebUrl(url->get_ref<const std::string&>())) {
      throw BackendError(code::kIncorrectType, "invalid File: \"url\" must be an http or https URL");
    }
    return Json{{"__type", "File"}, {"name", *name}, {"url", *url}};
  }
  if (type == "GeoPoint") {
    auto lat = value.find("latitude");
    auto lon = value.find("longitude");
    if (lat == value.end() || lon == value.end() || !lat->is_number() || !lon->is_number()) {
      throw BackendError(code::kIncorrectType, "invalid GeoPoint: \"latitude\" and \"longitude\" must be numbers");
    }
    double latitude = lat->get<double>();
    double longitude = lon->get<double>();
    if (!(latitude >= -90.0 && latitude <= 90.0) || !(longitude >= -180.0 && longitude <= 180.0)) {
      throw BackendError(code::kIncorrectType, "invalid GeoPoint: latitude or longitude out of range");
    }
    return Json{{"__type", "GeoPoint"}, {"latitude", latitude}, {"longitude", longitude}};
  }
  if (type == "Relation") {
    throw BackendError(code::kIncorrectType, "a relation changes through AddRelation and RemoveRelation, not by setting it");
  }
  throw BackendError(code::kIncorrectType, "unknown __type \"" + type + "\"");
}

}  // namespace

std::string formatTimestamp(std::int64_t millis) {
  std::int64_t days = millis >= 0 ? millis / 86400000 : -((-millis + 86399999) / 86400000);
  std::int64_t rest = millis - days * 86400000;
  // Civil date from days (inverse of daysFromCivil).
  std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(y), m, d,
                static_cast<long long>(rest / 3600000), static_cast<long long>(rest / 60000 % 60),
                static_cast<long long>(rest / 1000 % 60), static_cast<long long>(rest % 1000));
  return buffer;
}

std::optional<std::int64_t> parseTimestamp(std::string_view text) {
  int year, month, day, hour, minute, second, millis = 0;
  if (text.size() != 20 && text.size() != 24) return std::nullopt;
  if (!readDigits(text, 0, 4, year) || text[4] != '-' || !readDigits(text, 5, 2, month) || text[7] != '-' ||
      !readDigits(text, 8, 2, day) || text[10] != 'T' || !readDigits(text, 11, 2, hour) || text[13] != ':' ||
      !readDigits(text, 14, 2, minute) || text[16] != ':' || !readDigits(text, 17, 2, second)) {
    return std::nullopt;
  }
  if (text.size() == 24) {
    if (text[19] != '.' || !readDigits(text, 20, 3, millis) || text[23] != 'Z') return std::nullopt;
  } else if (text[19] != 'Z') {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59 ||
      second > 59) {
    return std::nullopt;
  }
  std::int64_t days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + millis;
}

std::int64_t nowMillis() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool hasType(const Json& value, std::string_view type) {
  if (!value.is_object()) return false;
  auto it = value.find("__type");
  return it != value.end() && it->is_string() && it->get_ref<const std::string&>() == type;
}

Json dateValue(std::int64_t millis) { return Json{{"__type", "Date"}, {"iso", formatTimestamp(millis)}}; }

Json normalizeFieldValue(const Json& value) {
  if (value.is_array()) {
    Json out = Json::array();
    for (const auto& element : value) out.push_back(normalizeFieldValue(element));
    return out;
  }
  if (!value.is_object()) return value;
  auto type = value.find("__type");
  if (type != value.end()) {
    if (!type->is_string()) throw BackendError(code::kIncorrectType, "\"__type\" must be a string");
    return normalizeTyped(value);
  }
  if (value.contains("__op")) throw BackendError(code::kIncorrectType, "a field operation cannot be nested in a value");
  Json out = Json::object();
  for (const auto& [key, element] : value.items()) out[key] = normalizeFieldValue(element);
  return out;
}

std::optional<PointerRef> asPointer(const Json& value) {
  if (!hasType(value, "Pointer") && !hasType(value, "Object")) return std::nullopt;
  const Json* className = stringMember(value, "className");
  const Json* objectId = stringMember(value, "objectId");
  if (!className || !objectId) return std::nullopt;
  return PointerRef{*className, *objectId};
}

Json pointerValue(const std::string& className, const std::string& objectId) {
  return Json{{"__type", "Pointer"}, {"className", className}, {"objectId", objectId}};
}

bool isValidKeyName(std::string_view name) {
  if (name.empty() || name.size() > 128) return false;
  auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!isLetter(name[0])) return false;
  for (char c : name) {
    if (!isLetter(c) && !(c >= '0' && c <= '9') && c != '_') return false;
  }
  return true;
}

namespace {

// Random bytes drawn from OpenSSL a block at a time: one call per few hundred
// ids instead of one per id.
class RandomBytes {
 public:
  unsigned char next() {
    if (used_ == sizeof block_) {
      if (RAND_bytes(block_, sizeof block_) != 1) throw std::runtime_error("no random bytes");
      used_ = 0;
    }
    return block_[used_++];
  }

 private:
  unsigned char block_[4096];
  std::size_t used_ = sizeof block_;
};

}  // namespace

std::string randomAlphanumeric(std::size_t length) {
  static constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local RandomBytes random;
  std::string out;
  out.reserve(length);
  while (out.size() < length) {
    unsigned char b = random.next();
    // 248 = 4 * 62: drop the tail so every letter is equally likely.
    if (b < 248) out.push_back(kAlphabet[b % kAlphabet.size()]);
  }
  return out;
}

}  // namespace devserver::backend
