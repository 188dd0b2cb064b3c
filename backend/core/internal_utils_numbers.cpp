// Sums for increments: integers never wrap, floating sums keep their type.

#include <cstddef>
#include <limits>

#include "backend/internal/internal_utils.hpp"

namespace backend {
namespace {

using platform::Number;
using platform::NumberType;
__extension__ using Wide = __int128;

std::size_t storageSize(NumberType type) {
  switch (type) {
    case NumberType::Char:
    case NumberType::UChar:
      return 1;
    case NumberType::Short:
    case NumberType::UShort:
      return 2;
    case NumberType::Int:
    case NumberType::UInt:
    case NumberType::Float:
      return 4;
    case NumberType::Long:
    case NumberType::ULong:
    case NumberType::LongLong:
    case NumberType::ULongLong:
    case NumberType::Double:
      return 8;
  }
  return 8;
}

Wide exactValue(const Number& n) {
  return n.isUnsigned() ? static_cast<Wide>(n.unsignedLongLongValue()) : static_cast<Wide>(n.longLongValue());
}

template <class T>
bool fits(Wide value) {
  return value >= static_cast<Wide>(std::numeric_limits<T>::min()) &&
         value <= static_cast<Wide>(std::numeric_limits<T>::max());
}

bool fitsType(NumberType type, Wide value) {
  switch (type) {
    case NumberType::Char: return fits<signed char>(value);
    case NumberType::UChar: return fits<unsigned char>(value);
    case NumberType::Short: return fits<short>(value);
    case NumberType::UShort: return fits<unsigned short>(value);
    case NumberType::Int: return fits<int>(value);
    case NumberType::UInt: return fits<unsigned>(value);
    case NumberType::Long: return fits<long>(value);
    case NumberType::ULong: return fits<unsigned long>(value);
    case NumberType::LongLong: return fits<long long>(value);
    case NumberType::ULongLong: return fits<unsigned long long>(value);
    case NumberType::Float:
    case NumberType::Double: return true;
  }
  return false;
}

// The exact sum in the larger of the two storage types, or wider still when
// it does not fit there: a 64-bit counter must not wrap at 2^31 because the
// amount was an int.
Number integerSum(const Number& a, const Number& b) {
  const Wide sum = exactValue(a) + exactValue(b);
  NumberType type = storageSize(b.type()) > storageSize(a.type()) && !b.isFloating() ? b.type() : a.type();
  if (type == NumberType::Char) type = NumberType::Int;  // a plain char amount is a small integer
  if (!fitsType(type, sum)) type = fitsType(NumberType::LongLong, sum) ? NumberType::LongLong : NumberType::ULongLong;
  if (!fitsType(type, sum)) return Number::ofDouble(static_cast<double>(sum));
  return Number::ofType(type, static_cast<long double>(sum));
}

}  // namespace

Number InternalUtils::addNumber(const Number& a, const Number& b) {
  switch (a.type()) {
    case NumberType::Double:
      return Number::ofDouble(a.doubleValue() + b.doubleValue());
    case NumberType::Float:
      return Number::ofFloat(static_cast<float>(a.doubleValue()) + static_cast<float>(b.doubleValue()));
    default:
      break;
  }
  if (a.isBoolean()) return Number::boolean(static_cast<int>(a.boolValue()) + static_cast<int>(b.boolValue()) != 0);
  // An integer amount onto a floating value keeps the amount's integer type.
  if (b.isFloating()) return integerSum(a, Number::ofType(a.type(), static_cast<long double>(b.doubleValue())));
  return integerSum(a, b);
}

}  // namespace backend
