// The two UTC timestamp formats. Pure functions, so safe on any thread.

#include <cmath>

#include "backend/internal/internal_utils.hpp"
#include "date_text.hpp"

namespace backend {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

struct Civil {
  long long year;
  unsigned month, day;
};

Civil civilFromDays(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2), m, d};
}

unsigned daysInMonth(long long year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Writes `value` as exactly `width` digits.
char* putDigits(char* out, unsigned value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

// Writes the date text at `text`; answers its end.
char* format(long long totalMilliseconds, bool withMilliseconds, char* text) {
  long long days = totalMilliseconds / 86400000;
  long long rest = totalMilliseconds % 86400000;
  if (rest < 0) {
    rest += 86400000;
    --days;
  }
  const Civil date = civilFromDays(days);
  const unsigned hour = static_cast<unsigned>(rest / 3600000);
  const unsigned minute = static_cast<unsigned>(rest / 60000 % 60);
  const unsigned second = static_cast<unsigned>(rest / 1000 % 60);
  const unsigned millisecond = static_cast<unsigned>(rest % 1000);
  // Dates go out with every saved object: written digit by digit. Callers
  // clamp to years 0000-9999, so the year has four digits.
  char* out = putDigits(text, static_cast<unsigned>(date.year), 4);
  *out++ = '-';
  out = putDigits(out, date.month, 2);
  *out++ = '-';
  out = putDigits(out, date.day, 2);
  *out++ = 'T';
  out = putDigits(out, hour, 2);
  *out++ = ':';
  out = putDigits(out, minute, 2);
  *out++ = ':';
  out = putDigits(out, second, 2);
  if (withMilliseconds) {
    *out++ = '.';
    out = putDigits(out, millisecond, 3);
  }
  *out++ = 'Z';
  return out;
}

std::string format(long long totalMilliseconds, bool withMilliseconds) {
  char text[32];
  return std::string(text, format(totalMilliseconds, withMilliseconds, text));
}

// Reads `count` decimal digits at `pos`; -1 when any is not a digit.
long long digits(std::string_view text, std::size_t pos, std::size_t count) {
  long long value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

std::optional<platform::Date> parse(std::string_view text, bool withMilliseconds) {
  const std::size_t length = withMilliseconds ? 24 : 20;
  if (text.size() != length) return std::nullopt;
  if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') return std::nullopt;
  if (withMilliseconds && text[19] != '.') return std::nullopt;
  if (text[length - 1] != 'Z') return std::nullopt;
  const long long year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
  const long long hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
  const long long millisecond = withMilliseconds ? digits(text, 20, 3) : 0;
  if (year < 0 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59 || millisecond < 0)
    return std::nullopt;
  if (day > daysInMonth(year, static_cast<unsigned>(month))) return std::nullopt;
  const long long days = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  const long long seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  // One correctly rounded division, so the result is the double nearest to
  // the decimal text.
  return platform::Date(static_cast<double>(seconds * 1000 + millisecond) / 1000.0);
}

// Whole milliseconds of a date; dates beyond any calendar use clamp, so a
// corrupt value never overflows.
long long millisecondsOf(platform::Date date, bool roundToNearest) {
  const double ms = date.timeIntervalSince1970() * 1000.0;
  if (!std::isfinite(ms)) return 0;
  constexpr double kLimit = 253402300799999.0;  // 9999-12-31T23:59:59.999Z
  const double clamped = std::fmax(-62167219200000.0, std::fmin(kLimit, ms));
  return static_cast<long long>(roundToNearest ? std::llround(clamped) : std::floor(clamped));
}

}  // namespace

std::string InternalUtils::stringFromPreciseDate(platform::Date date) {
  return format(millisecondsOf(date, true), true);
}

char* detail::writePreciseDate(platform::Date date, char* out) { return format(millisecondsOf(date, true), true, out); }

std::optional<platform::Date> InternalUtils::preciseDateFromString(std::string_view text) { return parse(text, true); }

std::string InternalUtils::stringFromImpreciseDate(platform::Date date) {
  return format(millisecondsOf(date, false), false);
}

std::optional<platform::Date> InternalUtils::impreciseDateFromString(std::string_view text) {
  return parse(text, false);
}

}  // namespace backend
