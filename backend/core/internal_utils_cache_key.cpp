// Canonical cache-key text and MD5 digests.

#include <openssl/evp.h>

#include <algorithm>

#include "backend/internal/internal_utils.hpp"
#include "platform/exceptions.hpp"
#include "platform/hex.hpp"

namespace backend {
namespace {

// Keys and strings are quoted with their quotes and backslashes escaped, so
// that no text can pose as the structure around it: distinct values give
// distinct keys.
void appendQuoted(std::string_view text, std::string& out) {
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
}

// Booleans and floating numbers are written apart from integers: true is
// not 1, and 1.0 is not 1.
void appendNumber(const platform::Number& number, std::string& out) {
  if (number.isBoolean()) {
    out += number.boolValue() ? "true" : "false";
    return;
  }
  std::string text = number.description();
  if (number.isFloating() && text.find_first_of(".eEna") == std::string::npos) text += ".0";
  out += text;
}

void appendCacheKey(const Value& value, std::string& out) {
  switch (value.kind()) {
    case Value::Kind::Dictionary: {
      const auto& dictionary = *value.dictionary();
      std::vector<const platform::Dictionary::Entry*> entries;
      entries.reserve(dictionary.size());
      for (const auto& entry : dictionary) entries.push_back(&entry);
      std::sort(entries.begin(), entries.end(), [](auto* a, auto* b) { return a->first < b->first; });
      out += '{';
      for (const auto* entry : entries) {
        appendQuoted(entry->first, out);
        out += ':';
        appendCacheKey(entry->second, out);
        out += ',';
      }
      out += '}';
      return;
    }
    case Value::Kind::Array:
      out += '[';
      for (const Value& element : *value.array()) {
        appendCacheKey(element, out);
        out += ',';
      }
      out += ']';
      return;
    case Value::Kind::String:
      appendQuoted(*value.string(), out);
      return;
    case Value::Kind::Number:
      appendNumber(*value.number(), out);
      return;
    case Value::Kind::Null:
      out += "null";
      return;
    default:
      throw platform::InvalidArgumentException("Couldn't create cache key from " + value.description());
  }
}

}  // namespace

std::string InternalUtils::cacheKeyForObject(const Value& value) {
  std::string out;
  appendCacheKey(value, out);
  return out;
}

std::string InternalUtils::calculateMD5(std::string_view text) {
  // Fetched once: looking the algorithm up cost an eighth of each digest.
  static EVP_MD* const md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!md5 || EVP_Digest(text.data(), text.size(), digest, &length, md5, nullptr) != 1)
    throw platform::InternalInconsistencyException("No MD5 digest available.");
  return platform::hexText(digest, length);
}

}  // namespace backend
