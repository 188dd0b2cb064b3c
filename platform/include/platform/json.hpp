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

namespace detail {
class Writer;
}

// Where a substitute writes the text standing for a value, as it goes: a
// typed form needs neither a rebuilt copy of the tree nor a value of its own.
class TextOutput {
 public:
  // Appends text that is JSON as it stands (nothing is checked or escaped).
  void raw(std::string_view text);
  // Appends `text` as a quoted, escaped JSON string.
  void string(std::string_view text);
  // Appends the JSON form of `value`, whose top must have one (it is not
  // substituted); dates, bytes and objects inside it are.
  void value(const Value& value);

 private:
  friend class detail::Writer;
  explicit TextOutput(detail::Writer& writer, int depth) : writer_(writer), depth_(depth) {}
  detail::Writer& writer_;
  int depth_;
};

// Writes the text of a date, byte buffer or shared object into the output.
using Substitute = std::function<void(const Value&, TextOutput&)>;
// write() with each value that has no JSON form written by the substitute.
// Its text is written as it stands, also in pretty output.
std::string write(const Value& value, WriteOptions options, const Substitute& substitute);

}  // namespace platform::json
