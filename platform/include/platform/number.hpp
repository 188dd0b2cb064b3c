#pragma once
// A number that remembers the storage type it was made with, like the
// platform's boxed numbers: the type code is one of "c d f i l q s C I L Q S",
// and a boolean is a 'c' that also remembers it was made as a boolean.

#include <cstdint>
#include <string>

namespace platform {

enum class NumberType : char {
  Char = 'c',
  Short = 's',
  Int = 'i',
  Long = 'l',
  LongLong = 'q',
  UChar = 'C',
  UShort = 'S',
  UInt = 'I',
  ULong = 'L',
  ULongLong = 'Q',
  Float = 'f',
  Double = 'd',
};

class Number {
 public:
  constexpr Number() noexcept : type_(NumberType::Int), boolean_(false), i_(0) {}

  static constexpr Number boolean(bool v) noexcept { return Number(NumberType::Char, true, v ? 1 : 0); }
  static constexpr Number ofChar(signed char v) noexcept { return Number(NumberType::Char, false, v); }
  static constexpr Number ofShort(short v) noexcept { return Number(NumberType::Short, false, v); }
  static constexpr Number ofInt(int v) noexcept { return Number(NumberType::Int, false, v); }
  static constexpr Number ofLong(long v) noexcept { return Number(NumberType::Long, false, v); }
  static constexpr Number ofLongLong(long long v) noexcept { return Number(NumberType::LongLong, false, v); }
  static constexpr Number ofUChar(unsigned char v) noexcept { return unsignedOf(NumberType::UChar, v); }
  static constexpr Number ofUShort(unsigned short v) noexcept { return unsignedOf(NumberType::UShort, v); }
  static constexpr Number ofUInt(unsigned v) noexcept { return unsignedOf(NumberType::UInt, v); }
  static constexpr Number ofULong(unsigned long v) noexcept { return unsignedOf(NumberType::ULong, v); }
  static constexpr Number ofULongLong(unsigned long long v) noexcept { return unsignedOf(NumberType::ULongLong, v); }
  static constexpr Number ofFloat(float v) noexcept { return floatingOf(NumberType::Float, v); }
  static constexpr Number ofDouble(double v) noexcept { return floatingOf(NumberType::Double, v); }
  // Makes a number of the given type from a value, truncating to that type.
  static Number ofType(NumberType type, long double value) noexcept;

  constexpr NumberType type() const noexcept { return type_; }
  constexpr char typeCode() const noexcept { return static_cast<char>(type_); }
  constexpr bool isBoolean() const noexcept { return boolean_; }
  constexpr bool isFloating() const noexcept { return type_ == NumberType::Float || type_ == NumberType::Double; }
  constexpr bool isUnsigned() const noexcept {
    return type_ == NumberType::UChar || type_ == NumberType::UShort || type_ == NumberType::UInt ||
           type_ == NumberType::ULong || type_ == NumberType::ULongLong;
  }

  bool boolValue() const noexcept;
  long long longLongValue() const noexcept;
  unsigned long long unsignedLongLongValue() const noexcept;
  double doubleValue() const noexcept;
  int intValue() const noexcept { return static_cast<int>(longLongValue()); }

  // The platform's text for the number: integers in decimal, floating values
  // in the shortest form that reads back the same ("1.5", "3"), booleans as 1/0.
  std::string description() const;

  // Numeric comparison across storage types (1 == 1.0 == true).
  int compare(const Number& other) const noexcept;
  bool operator==(const Number& other) const noexcept { return compare(other) == 0; }
  bool operator<(const Number& other) const noexcept { return compare(other) < 0; }

 private:
  constexpr Number(NumberType t, bool b, long long v) noexcept : type_(t), boolean_(b), i_(v) {}
  static constexpr Number unsignedOf(NumberType t, unsigned long long v) noexcept {
    Number n(t, false, 0);
    n.u_ = v;
    return n;
  }
  static constexpr Number floatingOf(NumberType t, double v) noexcept {
    Number n(t, false, 0);
    n.d_ = v;
    return n;
  }

  NumberType type_;
  bool boolean_;
  union {
    long long i_;
    unsigned long long u_;
    double d_;
  };
};

}  // namespace platform
