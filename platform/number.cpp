#include "platform/number.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "number_format.hpp"

namespace platform {
namespace {

// Floating to integer conversions saturate (NaN gives 0): a plain cast of an
// out-of-range value is undefined behaviour, and numbers arrive from the network.
long long saturatingToLongLong(long double v) noexcept {
  if (std::isnan(v)) return 0;
  if (v <= static_cast<long double>(std::numeric_limits<long long>::min()))
    return std::numeric_limits<long long>::min();
  if (v >= static_cast<long double>(std::numeric_limits<long long>::max()))
    return std::numeric_limits<long long>::max();
  return static_cast<long long>(v);
}

unsigned long long saturatingToULongLong(long double v) noexcept {
  if (std::isnan(v)) return 0;
  // Negative values wrap like a cast through long long does.
  if (v < 0) return static_cast<unsigned long long>(saturatingToLongLong(v));
  if (v >= static_cast<long double>(std::numeric_limits<unsigned long long>::max()))
    return std::numeric_limits<unsigned long long>::max();
  return static_cast<unsigned long long>(v);
}

// Exact comparison of two integers of any signedness.
int compareIntegers(const Number& a, const Number& b) noexcept {
  const bool aNeg = !a.isUnsigned() && a.longLongValue() < 0;
  const bool bNeg = !b.isUnsigned() && b.longLongValue() < 0;
  if (aNeg != bNeg) return aNeg ? -1 : 1;
  if (aNeg) {
    const long long x = a.longLongValue(), y = b.longLongValue();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  const unsigned long long x = a.unsignedLongLongValue(), y = b.unsignedLongLongValue();
  return x < y ? -1 : (x > y ? 1 : 0);
}

// The number as a long double: exact for every 64-bit integer and double
// with the x86 80-bit long double, so mixed comparisons need no rounding.
long double exactValue(const Number& n) noexcept {
  if (n.isFloating()) return n.doubleValue();
  if (n.isUnsigned()) return static_cast<long double>(n.unsignedLongLongValue());
  return static_cast<long double>(n.longLongValue());
}

}  // namespace

Number Number::ofType(NumberType type, long double value) noexcept {
  switch (type) {
    case NumberType::Char: return ofChar(static_cast<signed char>(saturatingToLongLong(value)));
    case NumberType::Short: return ofShort(static_cast<short>(saturatingToLongLong(value)));
    case NumberType::Int: return ofInt(static_cast<int>(saturatingToLongLong(value)));
    case NumberType::Long: return ofLong(static_cast<long>(saturatingToLongLong(value)));
    case NumberType::LongLong: return ofLongLong(saturatingToLongLong(value));
    case NumberType::UChar: return ofUChar(static_cast<unsigned char>(saturatingToULongLong(value)));
    case NumberType::UShort: return ofUShort(static_cast<unsigned short>(saturatingToULongLong(value)));
    case NumberType::UInt: return ofUInt(static_cast<unsigned>(saturatingToULongLong(value)));
    case NumberType::ULong: return ofULong(static_cast<unsigned long>(saturatingToULongLong(value)));
    case NumberType::ULongLong: return ofULongLong(saturatingToULongLong(value));
    case NumberType::Float: return ofFloat(static_cast<float>(value));
    case NumberType::Double: return ofDouble(static_cast<double>(value));
  }
  return ofInt(static_cast<int>(saturatingToLongLong(value)));
}

bool Number::boolValue() const noexcept {
  if (isFloating()) return d_ != 0;
  if (isUnsigned()) return u_ != 0;
  return i_ != 0;
}

long long Number::longLongValue() const noexcept {
  if (isFloating()) return saturatingToLongLong(d_);
  if (isUnsigned()) return static_cast<long long>(u_);  // modulo 2^64, like a cast
  return i_;
}

unsigned long long Number::unsignedLongLongValue() const noexcept {
  if (isFloating()) return saturatingToULongLong(d_);
  if (isUnsigned()) return u_;
  return static_cast<unsigned long long>(i_);
}

double Number::doubleValue() const noexcept {
  if (isFloating()) return d_;
  if (isUnsigned()) return static_cast<double>(u_);
  return static_cast<double>(i_);
}

std::string Number::description() const {
  char buf[detail::kMaxNumberText];
  return std::string(buf, detail::formatNumber(*this, buf));
}

int Number::compare(const Number& other) const noexcept {
  if (!isFloating() && !other.isFloating()) return compareIntegers(*this, other);
  const long double a = exactValue(*this), b = exactValue(other);
  // NaN sorts before everything and equals itself, so equality stays reflexive.
  const bool aNaN = std::isnan(a), bNaN = std::isnan(b);
  if (aNaN || bNaN) return aNaN == bNaN ? 0 : (aNaN ? -1 : 1);
  return a < b ? -1 : (a > b ? 1 : 0);
}

namespace detail {

char* formatDouble(double d, char* out) noexcept {
  char* const end = out + kMaxNumberText;
  // Integral values of exact-integer magnitude print as integers ("3"); larger
  // ones keep an exponent so the text reads back as a double, not an integer
  // that is close to it.
  constexpr double kExactIntegerLimit = 9007199254740992.0;  // 2^53
  if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < kExactIntegerLimit) {
    return std::to_chars(out, end, static_cast<long long>(d)).ptr;
  }
  char* p = std::to_chars(out, end, d).ptr;
  if (std::isfinite(d) && std::find_if(out, p, [](char c) { return c == '.' || c == 'e'; }) == p) {
    p = std::to_chars(out, end, d, std::chars_format::scientific).ptr;
  }
  return p;
}

char* formatFloat(float f, char* out) noexcept {
  char* const end = out + kMaxNumberText;
  if (std::isfinite(f) && f == std::trunc(f) && std::fabs(f) < 16777216.0f) {  // 2^24
    return std::to_chars(out, end, static_cast<long long>(f)).ptr;
  }
  char* p = std::to_chars(out, end, f).ptr;
  if (std::isfinite(f) && std::find_if(out, p, [](char c) { return c == '.' || c == 'e'; }) == p) {
    p = std::to_chars(out, end, f, std::chars_format::scientific).ptr;
  }
  return p;
}

std::size_t formatNumber(const Number& n, char* out) noexcept {
  char* const end = out + kMaxNumberText;
  char* p;
  switch (n.type()) {
    case NumberType::Double: p = formatDouble(n.doubleValue(), out); break;
    case NumberType::Float: p = formatFloat(static_cast<float>(n.doubleValue()), out); break;
    default:
      p = n.isUnsigned() ? std::to_chars(out, end, n.unsignedLongLongValue()).ptr
                         : std::to_chars(out, end, n.longLongValue()).ptr;
  }
  return static_cast<std::size_t>(p - out);
}

}  // namespace detail
}  // namespace platform
