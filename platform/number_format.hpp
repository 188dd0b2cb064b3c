#pragma once
// Shared number text for Number::description() and the JSON writer.

#include <cstddef>

#include "platform/number.hpp"

namespace platform::detail {

// Enough for any integer, and for the shortest round-trip form of a double
// ("-2.2250738585072014e-308" is 24 characters).
inline constexpr std::size_t kMaxNumberText = 32;

// Writes the number's text at out (at most kMaxNumberText bytes, no NUL) and
// returns its length. Integers in decimal; booleans 1/0; floating values in
// the shortest form that reads back the same, integral ones below 2^53 (2^24
// for float) without fraction ("3"), larger integral ones with an exponent
// ("1e+300") so that they read back as floating values. Non-finite values
// come out as "inf", "-inf" or "nan".
std::size_t formatNumber(const Number& n, char* out) noexcept;
char* formatDouble(double d, char* out) noexcept;
char* formatFloat(float f, char* out) noexcept;

}  // namespace platform::detail
