#pragma once
// The file format of the user-defaults store and the keychain: JSON in which
// every value keeps its exact kind.
//
//   string      "text"
//   array       [ ... ]
//   dictionary  {"$dict": {"key": ..., ...}}
//   number      {"$num": "<type code c d f i l q s C I L Q S>", "v": 12}
//               (non-finite floating values as "v": "nan", "inf" or "-inf")
//   boolean     {"$bool": true}
//   date        {"$date": <seconds since 1970, double>}
//   bytes       {"$data": "<base64>"}
//   null marker {"$null": true}
//
// Every JSON object in the file is one of these wrappers, so a dictionary
// key can never be mistaken for a type tag.

#include <optional>
#include <string>
#include <string_view>

#include "platform/value.hpp"

namespace platform::detail {

// The deepest value tree (containers inside containers) the format accepts.
inline constexpr int kTypedJsonMaxDepth = 200;

// Why `value` cannot be stored, or nullopt when it can: shared objects and
// nil inside containers have no stored form, and trees deeper than
// kTypedJsonMaxDepth (or cyclic ones) are refused.
std::optional<std::string> typedJsonProblem(const Value& value);

// Precondition: !typedJsonProblem(value).
std::string encodeTypedJson(const Value& value);

// The value, or nullopt with `problem` set when the text is not valid JSON
// or not in the format above.
std::optional<Value> decodeTypedJson(std::string_view text, std::string& problem);

std::string base64Encode(const Bytes& bytes);
std::optional<Bytes> base64Decode(std::string_view text);

}  // namespace platform::detail
