// The fast JSON reader: simdjson's DOM parse, then one pass that builds our
// owning tree with every container reserved at its final size.

#include <simdjson.h>

#include "json_parsers.hpp"
#include "platform/json.hpp"

namespace platform::json::detail {
namespace {

// A parser keeps its buffers (about three times the text) between calls;
// beyond this size a text gets a parser of its own so no thread holds more.
constexpr std::size_t kKeptCapacity = 4u << 20;

class Converter {
 public:
  // False when the tree nests deeper than kMaxDepth.
  bool convert(simdjson::dom::element e, Value& out, int depth) {
    using Type = simdjson::dom::element_type;
    switch (e.type()) {
      case Type::ARRAY: return convertArray(e.get_array().value_unsafe(), out, depth + 1);
      case Type::OBJECT: return convertObject(e.get_object().value_unsafe(), out, depth + 1);
      case Type::INT64: out = Value(Number::ofLongLong(e.get_int64().value_unsafe())); return true;
      case Type::UINT64: out = Value(Number::ofULongLong(e.get_uint64().value_unsafe())); return true;
      case Type::DOUBLE: out = Value(Number::ofDouble(e.get_double().value_unsafe())); return true;
      case Type::STRING: out = Value(std::string(e.get_string().value_unsafe())); return true;
      case Type::BOOL: out = Value(Number::boolean(e.get_bool().value_unsafe())); return true;
      case Type::NULL_VALUE: out = Value::null(); return true;
    }
    return false;
  }

 private:
  bool convertArray(simdjson::dom::array array, Value& out, int depth) {
    if (depth > kMaxDepth) return false;
    Array items;
    items.reserve(array.size());  // exact below 2^24 elements, a lower bound beyond
    for (simdjson::dom::element child : array) {
      if (!convert(child, items.emplace_back(), depth)) return false;
    }
    out = Value(std::move(items));
    return true;
  }

  bool convertObject(simdjson::dom::object object, Value& out, int depth) {
    if (depth > kMaxDepth) return false;
    Dictionary dict;
    dict.reserve(object.size());
    for (simdjson::dom::key_value_pair field : object) {
      Value value;
      if (!convert(field.value, value, depth)) return false;
      // A repeated key keeps its first position and takes the last value.
      if (Value* existing = dict.size() > 0 ? dict.find(field.key) : nullptr) {
        *existing = std::move(value);
      } else {
        dict.append(std::string(field.key), std::move(value));
      }
    }
    out = Value(std::move(dict));
    return true;
  }
};

std::optional<Value> convertRoot(simdjson::dom::parser& parser, std::string_view text) {
  simdjson::dom::element root;
  if (parser.parse(text.data(), text.size(), true).get(root) != simdjson::SUCCESS) return std::nullopt;
  Value value;
  if (!Converter().convert(root, value, 0)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<Value> parseFast(std::string_view text) {
  // An empty view may carry no buffer at all, which the fast reader copies from.
  if (text.empty()) return std::nullopt;
  if (text.size() > kKeptCapacity) {
    simdjson::dom::parser parser;
    return convertRoot(parser, text);
  }
  thread_local simdjson::dom::parser parser;
  return convertRoot(parser, text);
}

}  // namespace platform::json::detail
