// Value -> compact (or indented) JSON text. Hand-written: plain runs of a
// string are copied whole, and numbers use the shortest round-trip form.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "number_format.hpp"
#include "platform/exceptions.hpp"
#include "platform/json.hpp"

namespace platform::json {
namespace {

// 0: copied as is; 1: needs an escape; 2: first byte of a multi-byte sequence
// (or an invalid byte), checked as UTF-8.
constexpr std::array<std::uint8_t, 256> makeByteClasses() {
  std::array<std::uint8_t, 256> classes{};
  for (int c = 0; c < 0x20; ++c) classes[c] = 1;
  classes['"'] = 1;
  classes['\\'] = 1;
  for (int c = 0x80; c < 0x100; ++c) classes[c] = 2;
  return classes;
}
constexpr std::array<std::uint8_t, 256> kByteClasses = makeByteClasses();

// Whether any of eight bytes needs a look: a control character, '"', '\\',
// or a byte of a multi-byte sequence. Lets plain text go eight bytes a step.
inline bool anyNeedsCare(std::uint64_t v) noexcept {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHighs = 0x8080808080808080ull;
  const std::uint64_t quote = v ^ (kOnes * '"');
  const std::uint64_t backslash = v ^ (kOnes * '\\');
  const std::uint64_t control = (v - kOnes * 0x20) & ~v;
  const std::uint64_t isQuote = (quote - kOnes) & ~quote;
  const std::uint64_t isBackslash = (backslash - kOnes) & ~backslash;
  return ((control | isQuote | isBackslash | v) & kHighs) != 0;
}

// Length of the valid UTF-8 sequence at s (of n bytes), or 0 when invalid.
std::size_t validUTF8Length(const unsigned char* s, std::size_t n) noexcept {
  const unsigned char c = s[0];
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no UTF-16 surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (n < len || s[1] < lo || s[1] > hi) return 0;
  for (std::size_t i = 2; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
  }
  return len;
}

}  // namespace

namespace detail {

class Writer {
 public:
  Writer(WriteOptions options, const Substitute* substitute) : options_(options), substitute_(substitute) {}

  std::string take() { return std::move(out_); }

  void raw(std::string_view text) { out_.append(text); }

  void write(const Value& v, int depth) {
    switch (v.kind()) {
      case Value::Kind::Nil:
      case Value::Kind::Null: out_.append("null", 4); return;
      case Value::Kind::Number: writeNumber(*v.number()); return;
      case Value::Kind::String: writeString(*v.string()); return;
      case Value::Kind::Array: writeArray(*v.array(), depth); return;
      case Value::Kind::Dictionary: writeDictionary(*v.dictionary(), depth); return;
      case Value::Kind::Date: writeSubstitute(v, "Date", depth); return;
      case Value::Kind::Bytes: writeSubstitute(v, "Bytes", depth); return;
      case Value::Kind::Object: writeSubstitute(v, "Object", depth); return;
    }
  }

  // A substitute's value of a kind without JSON form is not substituted
  // again: a substitute that hands its argument back would never end.
  void writeSubstituted(const Value& v, int depth) {
    switch (v.kind()) {
      case Value::Kind::Date: raiseInvalidType("Date");
      case Value::Kind::Bytes: raiseInvalidType("Bytes");
      case Value::Kind::Object: raiseInvalidType("Object");
      default: write(v, depth);
    }
  }

  void writeString(std::string_view s) {
    out_.push_back('"');
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* const end = p + s.size();
    while (p < end) {
      const auto* run = p;
      for (std::uint64_t word; end - p >= 8; p += 8) {
        std::memcpy(&word, p, 8);
        if (anyNeedsCare(word)) break;
      }
      while (p < end && kByteClasses[*p] == 0) ++p;
      out_.append(reinterpret_cast<const char*>(run), static_cast<std::size_t>(p - run));
      if (p == end) break;
      if (kByteClasses[*p] == 1) {
        writeEscape(*p);
        ++p;
      } else if (std::size_t len = validUTF8Length(p, static_cast<std::size_t>(end - p))) {
        out_.append(reinterpret_cast<const char*>(p), len);
        p += len;
      } else {
        // Text that is not UTF-8 cannot be carried by JSON; U+FFFD keeps the output readable.
        out_.append("\xEF\xBF\xBD", 3);
        ++p;
      }
    }
    out_.push_back('"');
  }

 private:
  [[noreturn]] static void raiseInvalidType(const char* kind) {
    throw InvalidArgumentException(std::string("Invalid type in JSON write (") + kind + ")");
  }

  void writeSubstitute(const Value& v, const char* kind, int depth) {
    if (!substitute_) raiseInvalidType(kind);
    TextOutput output(*this, depth);
    (*substitute_)(v, output);
  }

  void writeNumber(const Number& n) {
    if (n.isBoolean()) {
      n.boolValue() ? out_.append("true", 4) : out_.append("false", 5);
      return;
    }
    if (n.isFloating() && !std::isfinite(n.doubleValue())) {
      throw InvalidArgumentException("Invalid number value (NaN or infinity) in JSON write");
    }
    char buf[platform::detail::kMaxNumberText];
    out_.append(buf, platform::detail::formatNumber(n, buf));
  }

  void writeEscape(unsigned char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    switch (c) {
      case '"': out_.append("\\\"", 2); return;
      case '\\': out_.append("\\\\", 2); return;
      case '\b': out_.append("\\b", 2); return;
      case '\f': out_.append("\\f", 2); return;
      case '\n': out_.append("\\n", 2); return;
      case '\r': out_.append("\\r", 2); return;
      case '\t': out_.append("\\t", 2); return;
      default: {
        const char u[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]};
        out_.append(u, 6);
      }
    }
  }

  void enter(int depth) {
    if (depth >= kMaxDepth) {
      throw InvalidArgumentException("Invalid value in JSON write (nesting deeper than " +
                                     std::to_string(kMaxDepth) + " levels)");
    }
  }

  void newline(int depth) {
    if (!options_.pretty) return;
    out_.push_back('\n');
    out_.append(static_cast<std::size_t>(depth) * 2, ' ');
  }

  void writeArray(const Array& array, int depth) {
    enter(depth);
    out_.push_back('[');
    for (std::size_t i = 0; i < array.size(); ++i) {
      if (i > 0) out_.push_back(',');
      newline(depth + 1);
      write(array[i], depth + 1);
    }
    if (!array.empty()) newline(depth);
    out_.push_back(']');
  }

  void writeMember(const Dictionary::Entry& entry, bool first, int depth) {
    if (!first) out_.push_back(',');
    newline(depth + 1);
    writeString(entry.first);
    options_.pretty ? out_.append(" : ", 3) : out_.append(":", 1);
    write(entry.second, depth + 1);
  }

  void writeDictionary(const Dictionary& dict, int depth) {
    enter(depth);
    out_.push_back('{');
    if (options_.sortKeys) {
      std::vector<const Dictionary::Entry*> sorted;
      sorted.reserve(dict.size());
      for (const auto& entry : dict) sorted.push_back(&entry);
      std::sort(sorted.begin(), sorted.end(), [](auto* a, auto* b) { return a->first < b->first; });
      for (std::size_t i = 0; i < sorted.size(); ++i) writeMember(*sorted[i], i == 0, depth);
    } else {
      bool first = true;
      for (const auto& entry : dict) {
        writeMember(entry, first, depth);
        first = false;
      }
    }
    if (!dict.empty()) newline(depth);
    out_.push_back('}');
  }

  WriteOptions options_;
  const Substitute* substitute_;
  std::string out_;
};

}  // namespace detail

void TextOutput::raw(std::string_view text) { writer_.raw(text); }
void TextOutput::string(std::string_view text) { writer_.writeString(text); }
void TextOutput::value(const Value& value) { writer_.writeSubstituted(value, depth_); }

std::string write(const Value& value, WriteOptions options) {
  detail::Writer writer(options, nullptr);
  writer.write(value, 0);
  return writer.take();
}

std::string write(const Value& value, WriteOptions options, const Substitute& substitute) {
  detail::Writer writer(options, &substitute);
  writer.write(value, 0);
  return writer.take();
}

}  // namespace platform::json
