// The reference JSON reader: RapidJSON's SAX reader feeding a builder that
// makes our owning tree directly. Slower than the fast reader, but it names
// the offset and the problem of a refused text.

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>

#include "json_parsers.hpp"
#include "platform/json.hpp"

namespace platform::json::detail {
namespace {

// Whether a literal that does not fit a double is too large (rather than too
// close to zero): its decimal magnitude, digits before the point plus exponent,
// is positive.
bool overflows(std::string_view literal) {
  std::size_t i = literal.starts_with('-') ? 1 : 0;
  long long magnitude = 0;
  bool significant = false;
  for (; i < literal.size() && literal[i] >= '0' && literal[i] <= '9'; ++i) {
    significant = significant || literal[i] != '0';
    if (significant) ++magnitude;
  }
  if (i < literal.size() && literal[i] == '.') {
    for (++i; i < literal.size() && literal[i] >= '0' && literal[i] <= '9'; ++i) {
      if (significant) continue;
      if (literal[i] == '0') {
        --magnitude;  // leading zeros after the point
      } else {
        significant = true;
      }
    }
  }
  if (!significant) return false;
  if (i < literal.size() && (literal[i] == 'e' || literal[i] == 'E')) {
    ++i;
    const bool negative = i < literal.size() && literal[i] == '-';
    if (i < literal.size() && (literal[i] == '-' || literal[i] == '+')) ++i;
    long long exponent = 0;
    for (; i < literal.size(); ++i) exponent = std::min(exponent * 10 + (literal[i] - '0'), 1'000'000'000LL);
    magnitude += negative ? -exponent : exponent;
  }
  return magnitude > 0;
}

// The number a valid JSON literal stands for: integers as 'q', above the
// signed range 'Q', everything else (fraction, exponent, beyond 64 bits) 'd';
// nothing when it overflows a double. Values too close to zero read as zero.
std::optional<Number> readNumber(std::string_view literal) {
  const char* first = literal.data();
  const char* last = first + literal.size();
  const bool integral = literal.find_first_of(".eE") == std::string_view::npos;
  if (integral && literal.starts_with('-')) {
    long long i;
    if (std::from_chars(first, last, i).ec == std::errc()) return Number::ofLongLong(i);
  } else if (integral) {
    unsigned long long u;
    if (std::from_chars(first, last, u).ec == std::errc()) {
      if (u > static_cast<unsigned long long>(std::numeric_limits<long long>::max())) return Number::ofULongLong(u);
      return Number::ofLongLong(static_cast<long long>(u));
    }
  }
  double d;
  if (std::from_chars(first, last, d).ec == std::errc()) return Number::ofDouble(d);
  if (overflows(literal)) return std::nullopt;
  return Number::ofDouble(literal.starts_with('-') ? -0.0 : 0.0);
}

constexpr const char* kLoneSurrogate = "The surrogate pair in string is invalid.";

// The reader turns an escaped low surrogate with no high one before it
// ("\\ude00") into the bytes of a UTF-16 surrogate, which is not UTF-8. Raw
// input cannot hold them (its encoding is validated), so any found came from
// such an escape.
bool hasEncodedSurrogate(const char* s, std::size_t n) {
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (static_cast<unsigned char>(s[i]) == 0xED && static_cast<unsigned char>(s[i + 1]) >= 0xA0) return true;
  }
  return false;
}

// A bounded input stream: the text need not be NUL-terminated, and a NUL byte
// inside it is still just a byte whose offset we can report.
class ViewStream {
 public:
  using Ch = char;
  explicit ViewStream(std::string_view text) : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()) {}

  Ch Peek() const { return p_ != end_ ? *p_ : '\0'; }
  Ch Take() { return p_ != end_ ? *p_++ : '\0'; }
  std::size_t Tell() const { return static_cast<std::size_t>(p_ - begin_); }
  bool atEnd() const { return p_ == end_; }

  // Read-only stream: the reader never writes through these without the in-situ flag.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  std::size_t PutEnd(Ch*) { return 0; }

 private:
  const char* begin_;
  const char* p_;
  const char* end_;
};

// Builds Values bottom-up: finished children wait on two scratch stacks and
// move into an exactly sized container when their parent closes, so no
// container grows by reallocation.
class Builder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Builder> {
 public:
  explicit Builder(const ViewStream& stream) : stream_(stream) {}

  bool Null() { return add(Value::null()); }
  bool Bool(bool b) { return add(Value(Number::boolean(b))); }
  // Numbers arrive as their literal (RapidJSON's own full-precision conversion
  // has undefined behaviour on some long literals).
  bool RawNumber(const char* s, rapidjson::SizeType length, bool) {
    std::optional<Number> n = readNumber(std::string_view(s, length));
    // The reader reports the literal's start as the offset of this stop.
    if (!n) return fail(std::nullopt, "Number too big to be stored in double.");
    return add(Value(*n));
  }
  bool String(const char* s, rapidjson::SizeType length, bool) {
    if (hasEncodedSurrogate(s, length)) return fail(std::nullopt, kLoneSurrogate);
    return add(Value(std::string(s, length)));
  }

  bool StartObject() { return open(true); }
  bool Key(const char* s, rapidjson::SizeType length, bool) {
    if (hasEncodedSurrogate(s, length)) return fail(std::nullopt, kLoneSurrogate);
    entries_.emplace_back(std::string(s, length), Value());
    return true;
  }
  bool EndObject(rapidjson::SizeType count) {
    Dictionary dict;
    dict.reserve(count);
    const auto first = entries_.end() - count;
    for (auto it = first; it != entries_.end(); ++it) {
      if (!replaceDuplicate(dict, *it)) dict.append(std::move(it->first), std::move(it->second));
    }
    entries_.erase(first, entries_.end());
    return close(Value(std::move(dict)));
  }

  bool StartArray() { return open(false); }
  bool EndArray(rapidjson::SizeType count) {
    const auto first = items_.end() - count;
    Array array(std::make_move_iterator(first), std::make_move_iterator(items_.end()));
    items_.erase(first, items_.end());
    return close(Value(std::move(array)));
  }

  struct Failure {
    std::optional<std::size_t> offset;  // none: where the reader stopped
    std::string problem;
  };
  // Why the builder stopped the reader, if it did.
  const std::optional<Failure>& failure() const { return failure_; }
  Value takeRoot() { return std::move(root_); }

 private:
  bool open(bool object) {
    if (containers_.size() >= static_cast<std::size_t>(kMaxDepth)) {
      // Offset of the bracket that opened one level too many.
      return fail(stream_.Tell() - 1, "Nesting deeper than " + std::to_string(kMaxDepth) + " levels.");
    }
    containers_.push_back(object);
    return true;
  }

  bool close(Value container) {
    containers_.pop_back();
    return add(std::move(container));
  }

  bool fail(std::optional<std::size_t> offset, std::string problem) {
    failure_ = Failure{offset, std::move(problem)};
    return false;
  }

  bool add(Value v) {
    if (containers_.empty()) {
      root_ = std::move(v);
    } else if (containers_.back()) {
      entries_.back().second = std::move(v);
    } else {
      items_.push_back(std::move(v));
    }
    return true;
  }

  // A repeated key keeps its first position and takes the last value, as
  // setting it twice would.
  static bool replaceDuplicate(Dictionary& dict, Dictionary::Entry& entry) {
    Value* existing = dict.find(entry.first);
    if (!existing) return false;
    *existing = std::move(entry.second);
    return true;
  }

  std::vector<bool> containers_;  // true: object
  std::vector<Value> items_;
  std::vector<Dictionary::Entry> entries_;
  Value root_;
  const ViewStream& stream_;
  std::optional<Failure> failure_;
};

bool isJSONWhitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

Error parseError(std::size_t offset, const std::string& problem) {
  const std::string message = "Invalid JSON at offset " + std::to_string(offset) + ": " + problem;
  return Error(kErrorDomain, kInvalidJSONCode,
               Value::dictionary({{"error", message}, {"offset", Value(static_cast<long long>(offset))}}));
}

}  // namespace

Result<Value> parseReference(std::string_view text) {
  constexpr unsigned kFlags = rapidjson::kParseValidateEncodingFlag | rapidjson::kParseNumbersAsStringsFlag |
                             rapidjson::kParseStopWhenDoneFlag;
  ViewStream stream(text);
  Builder builder(stream);
  rapidjson::Reader reader;
  const rapidjson::ParseResult result = reader.Parse<kFlags>(stream, builder);
  if (const auto& failure = builder.failure()) {
    return parseError(failure->offset.value_or(result.Offset()), failure->problem);
  }
  if (result.IsError()) return parseError(result.Offset(), rapidjson::GetParseError_En(result.Code()));
  // The reader stops after the root value; only whitespace may follow it.
  while (!stream.atEnd() && isJSONWhitespace(stream.Peek())) stream.Take();
  if (!stream.atEnd()) return parseError(stream.Tell(), "Unexpected text after the document.");
  return builder.takeRoot();
}

}  // namespace platform::json::detail
