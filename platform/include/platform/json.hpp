#pragma once
// JSON text <-> Value. UTF-8 throughout.

#include <functional>
#include <string>
#include <string_view>

#include "platform/result.hpp"
#include "platform/value.hpp"

namespace platform::json {

// The error domain of parse failures; the user info holds "error" (a message
// naming the offset and the problem) and "offset".
inline constexpr const char* kErrorDomain = "JSON";
// The code of every parse failure (the platform's code for corrupt JSON text).
inline constexpr int kInvalidJSONCode = 3840;
// Deepest nesting of arrays and objects that parse() accepts.
inline constexpr int kMaxDepth = 512;

// Parses one JSON document. Integers become 'q' numbers (or 'Q' above the
// signed range), other numbers 'd', true/false booleans, null the null marker.
// Malformed text (including invalid UTF-8 and nesting deeper than 512) gives an Error.
Result<Value> parse(std::string_view text);

struct WriteOptions {
  bool pretty = false;
  bool sortKeys = false;
};

// Writes compact JSON. Nil writes as null. Dates, byte buffers and shared
// objects have no JSON form (unless substituted): InvalidArgumentException
// "Invalid type in JSON write (<kind>)". Non-finite numbers raise
// "Invalid number value (NaN or infinity) in JSON write".
std::string write(const Value& value, WriteOptions options = {});

// The value written in place of a date, byte buffer or shared object.
using Substitute = std::function<Value(const Value&)>;
// write() with each value that has no JSON form written as its substitute
// (which must have a JSON form itself at its top: it is not substituted
// again), so a typed encoding needs no rebuilt copy of the tree.
std::string write(const Value& value, WriteOptions options, const Substitute& substitute);

}  // namespace platform::json
