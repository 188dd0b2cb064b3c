#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace devserver::backend {

using Json = nlohmann::json;

// Milliseconds since 1970 as "yyyy-MM-ddTHH:mm:ss.SSSZ" (UTC).
std::string formatTimestamp(std::int64_t millis);

// Parses "yyyy-MM-ddTHH:mm:ss.SSSZ" or "yyyy-MM-ddTHH:mm:ssZ"; nothing for
// any other text or an impossible date.
std::optional<std::int64_t> parseTimestamp(std::string_view text);

std::int64_t nowMillis();

// True when `value` is an object whose "__type" is `type`.
bool hasType(const Json& value, std::string_view type);

// A "Date" typed value for the timestamp.
Json dateValue(std::int64_t millis);

// Checks a field value the client sent and returns the form to store: plain
// JSON stays, typed values ("Date", "Bytes", "Pointer", "File", "GeoPoint")
// are checked and normalised. A pointer to an unsaved object is refused with
// code 106, a malformed or unknown typed value or a relation set as a plain
// value with 111. Throws BackendError.
Json normalizeFieldValue(const Json& value);

// A pointer {"__type": "Pointer", "className", "objectId"} or nothing when
// `value` is not a well-formed saved pointer.
struct PointerRef {
  std::string className;
  std::string objectId;
};
std::optional<PointerRef> asPointer(const Json& value);
Json pointerValue(const std::string& className, const std::string& objectId);

// Field and class names: a letter, then letters, digits and "_", at most 128.
bool isValidKeyName(std::string_view name);

// A random string of `length` letters and digits (object ids, tokens).
std::string randomAlphanumeric(std::size_t length);

}  // namespace devserver::backend
