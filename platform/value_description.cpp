// Value::description(): the property-list style text used in logs.

#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/value.hpp"

namespace platform {
namespace {

constexpr std::string_view kIndent = "    ";

bool needsQuotes(std::string_view s) noexcept {
  if (s.empty()) return true;
  for (unsigned char c : s) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                       c == '.' || c == '$' || c == '/' || c == ':' || c >= 0x80;
    if (!plain) return true;
  }
  return false;
}

void appendQuotedIfNeeded(std::string& out, std::string_view s) {
  if (!needsQuotes(s)) {
    out += s;
    return;
  }
  out += '"';
  for (char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  out += '"';
}

void appendDate(std::string& out, Date date) {
  const double t = std::floor(date.timeIntervalSince1970());
  std::tm utc{};
  char buf[64];
  // Within about 30 million years the calendar text exists; beyond, or NaN,
  // the raw seconds are shown (a cast would be undefined).
  const bool inRange = t > -1e15 && t < 1e15;
  const std::time_t seconds = inRange ? static_cast<std::time_t>(t) : 0;
  if (inRange && gmtime_r(&seconds, &utc) && std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &utc)) {
    out += buf;
  } else {
    out += std::to_string(date.timeIntervalSince1970());
  }
}

void appendBytes(std::string& out, const Bytes& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '<';
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0 && i % 4 == 0) out += ' ';
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0xf];
  }
  out += '>';
}

void appendIndent(std::string& out, int depth) {
  for (int i = 0; i < depth; ++i) out += kIndent;
}

void append(std::string& out, const Value& v, int depth, bool nested) {
  switch (v.kind()) {
    case Value::Kind::Nil: out += "(null)"; return;
    case Value::Kind::Null: out += "<null>"; return;
    case Value::Kind::Number: out += v.number()->description(); return;
    case Value::Kind::String:
      if (nested) {
        appendQuotedIfNeeded(out, *v.string());
      } else {
        out += *v.string();
      }
      return;
    case Value::Kind::Date: appendDate(out, *v.date()); return;
    case Value::Kind::Bytes: appendBytes(out, *v.bytes()); return;
    case Value::Kind::Object: out += (*v.objectHandle())->description(); return;
    case Value::Kind::Array: {
      const Array& a = *v.array();
      out += "(\n";
      for (std::size_t i = 0; i < a.size(); ++i) {
        appendIndent(out, depth + 1);
        append(out, a[i], depth + 1, true);
        out += i + 1 < a.size() ? ",\n" : "\n";
      }
      appendIndent(out, depth);
      out += ')';
      return;
    }
    case Value::Kind::Dictionary: {
      out += "{\n";
      for (const auto& [key, item] : *v.dictionary()) {
        appendIndent(out, depth + 1);
        appendQuotedIfNeeded(out, key);
        out += " = ";
        append(out, item, depth + 1, true);
        out += ";\n";
      }
      appendIndent(out, depth);
      out += '}';
      return;
    }
  }
}

}  // namespace

std::string Value::description() const {
  std::string out;
  append(out, *this, 0, false);
  return out;
}

}  // namespace platform
