#include "typed_json.hpp"

#include <cmath>
#include <limits>

#include "platform/json.hpp"

namespace platform::detail {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kTypeCodes = "cdfilqsCILQS";

std::optional<std::string> problemAt(const Value& value, int depth) {
  if (depth > kTypedJsonMaxDepth) return "nesting deeper than " + std::to_string(kTypedJsonMaxDepth);
  switch (value.kind()) {
    case Value::Kind::Nil:
      return std::string("nil inside a container");
    case Value::Kind::Object:
      return "an object of no stored kind (" + value.description() + ")";
    case Value::Kind::Array:
      for (const auto& item : *value.array()) {
        if (auto problem = problemAt(item, depth + 1)) return problem;
      }
      return std::nullopt;
    case Value::Kind::Dictionary:
      for (const auto& [key, item] : *value.dictionary()) {
        if (auto problem = problemAt(item, depth + 1)) return problem;
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

Value wrap(std::string tag, Value inner) {
  Dictionary wrapper;
  wrapper.append(std::move(tag), std::move(inner));
  return Value(std::move(wrapper));
}

Value encodeNumber(const Number& number) {
  if (number.isBoolean()) return wrap("$bool", Value(number.boolValue()));
  Value stored;
  if (number.isFloating()) {
    double d = number.doubleValue();
    if (std::isnan(d)) {
      stored = Value("nan");
    } else if (std::isinf(d)) {
      stored = Value(d > 0 ? "inf" : "-inf");
    } else {
      stored = Value(d);
    }
  } else if (number.isUnsigned()) {
    stored = Value(number.unsignedLongLongValue());
  } else {
    stored = Value(number.longLongValue());
  }
  Dictionary wrapper;
  wrapper.append("$num", Value(std::string(1, number.typeCode())));
  wrapper.append("v", std::move(stored));
  return Value(std::move(wrapper));
}

Value toJsonForm(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Null:
      return wrap("$null", Value(true));
    case Value::Kind::Number:
      return encodeNumber(*value.number());
    case Value::Kind::String:
      return value;
    case Value::Kind::Date:
      return wrap("$date", Value(value.date()->timeIntervalSince1970()));
    case Value::Kind::Bytes:
      return wrap("$data", Value(base64Encode(*value.bytes())));
    case Value::Kind::Array: {
      Array items;
      items.reserve(value.array()->size());
      for (const auto& item : *value.array()) items.push_back(toJsonForm(item));
      return Value(std::move(items));
    }
    case Value::Kind::Dictionary: {
      Dictionary entries;
      entries.reserve(value.dictionary()->size());
      for (const auto& [key, item] : *value.dictionary()) entries.append(key, toJsonForm(item));
      return wrap("$dict", Value(std::move(entries)));
    }
    case Value::Kind::Nil:
    case Value::Kind::Object:
      break;
  }
  return Value::null();  // unreachable after typedJsonProblem
}

struct Decoder {
  std::string problem;

  std::optional<Value> fail(std::string why) {
    if (problem.empty()) problem = std::move(why);
    return std::nullopt;
  }

  std::optional<Value> number(const Value& code, const Value& stored) {
    const std::string* text = code.string();
    if (!text || text->size() != 1 || kTypeCodes.find((*text)[0]) == std::string_view::npos) {
      return fail("unknown number type");
    }
    auto type = static_cast<NumberType>((*text)[0]);
    bool floating = type == NumberType::Float || type == NumberType::Double;
    if (floating && stored.isString()) {
      const std::string& special = *stored.string();
      double d = special == "nan"   ? std::numeric_limits<double>::quiet_NaN()
                 : special == "inf"  ? std::numeric_limits<double>::infinity()
                 : special == "-inf" ? -std::numeric_limits<double>::infinity()
                                     : 0.0;
      if (d == 0.0) return fail("bad floating value");
      return Value(Number::ofType(type, d));
    }
    const Number* n = stored.number();
    if (!n || n->isBoolean()) return fail("number wrapper without a number");
    if (floating) return Value(Number::ofType(type, n->doubleValue()));
    if (n->isFloating()) return fail("integer type with a fractional value");
    // Through long double, which holds every 64-bit integer exactly.
    long double exact = n->isUnsigned() ? static_cast<long double>(n->unsignedLongLongValue())
                                        : static_cast<long double>(n->longLongValue());
    return Value(Number::ofType(type, exact));
  }

  std::optional<Value> wrapper(const Dictionary& object) {
    if (object.size() == 2 && object.contains("$num") && object.contains("v")) {
      return number(object.get("$num"), object.get("v"));
    }
    if (object.size() != 1) return fail("object that is no known wrapper");
    const auto& [tag, inner] = *object.begin();
    if (tag == "$dict") {
      const Dictionary* entries = inner.dictionary();
      if (!entries) return fail("$dict without an object");
      Dictionary decoded;
      decoded.reserve(entries->size());
      for (const auto& [key, item] : *entries) {
        auto value = decode(item);
        if (!value) return std::nullopt;
        decoded.set(key, std::move(*value));
      }
      return Value(std::move(decoded));
    }
    if (tag == "$bool") {
      const Number* flag = inner.number();
      if (!flag || !flag->isBoolean()) return fail("$bool without a boolean");
      return Value(flag->boolValue());
    }
    if (tag == "$date") {
      const Number* seconds = inner.number();
      if (!seconds || seconds->isBoolean()) return fail("$date without a number");
      return Value(Date(seconds->doubleValue()));
    }
    if (tag == "$data") {
      const std::string* text = inner.string();
      std::optional<Bytes> bytes = text ? base64Decode(*text) : std::nullopt;
      if (!bytes) return fail("$data without base64 text");
      return Value(std::move(*bytes));
    }
    if (tag == "$null") return Value::null();
    return fail("unknown wrapper " + tag);
  }

  std::optional<Value> decode(const Value& json) {
    switch (json.kind()) {
      case Value::Kind::String:
        return json;
      case Value::Kind::Array: {
        Array items;
        items.reserve(json.array()->size());
        for (const auto& item : *json.array()) {
          auto value = decode(item);
          if (!value) return std::nullopt;
          items.push_back(std::move(*value));
        }
        return Value(std::move(items));
      }
      case Value::Kind::Dictionary:
        return wrapper(*json.dictionary());
      default:
        return fail("bare JSON scalar where a typed value belongs");
    }
  }
};

int base64Digit(char c) {
  auto at = kAlphabet.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

}  // namespace

std::optional<std::string> typedJsonProblem(const Value& value) {
  if (value.isNil()) return std::string("nil");
  return problemAt(value, 0);
}

std::string encodeTypedJson(const Value& value) { return json::write(toJsonForm(value)); }

std::optional<Value> decodeTypedJson(std::string_view text, std::string& problem) {
  Result<Value> parsed = json::parse(text);
  if (!parsed) {
    problem = parsed.error().message();
    return std::nullopt;
  }
  Decoder decoder;
  auto value = decoder.decode(parsed.value());
  if (!value) problem = decoder.problem;
  return value;
}

std::string base64Encode(const Bytes& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    std::uint32_t n = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (std::size_t rest = bytes.size() - i; rest > 0) {
    std::uint32_t n = bytes[i] << 16;
    if (rest == 2) n |= bytes[i + 1] << 8;
    out += kAlphabet[n >> 18];
    out += kAlphabet[(n >> 12) & 63];
    out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::optional<Bytes> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  Bytes out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    bool last = i + 4 == text.size();
    int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
    if (padding == 1 && text[i + 2] == '=') return std::nullopt;
    std::uint32_t n = 0;
    for (int k = 0; k < 4 - padding; ++k) {
      int digit = base64Digit(text[i + k]);
      if (digit < 0) return std::nullopt;
      n |= static_cast<std::uint32_t>(digit) << (18 - 6 * k);
    }
    out.push_back(static_cast<std::uint8_t>(n >> 16));
    if (padding < 2) out.push_back(static_cast<std::uint8_t>(n >> 8));
    if (padding < 1) out.push_back(static_cast<std::uint8_t>(n));
  }
  return out;
}

}  // namespace platform::detail
