// Sums in the first operand's storage type, for increments.

#include "backend/internal/internal_utils.hpp"

namespace backend {
namespace {

using platform::Number;
using platform::NumberType;

// Integer sums wrap in the storage type, as the narrow C types would; the
// arithmetic runs unsigned so that overflow is defined.
template <class T>
T wrappingSum(const Number& a, const Number& b) {
  const auto x = static_cast<unsigned long long>(a.isUnsigned() ? a.unsignedLongLongValue() : a.longLongValue());
  const auto y = static_cast<unsigned long long>(b.isUnsigned() ? b.unsignedLongLongValue() : b.longLongValue());
  return static_cast<T>(x + y);
}

}  // namespace

Number InternalUtils::addNumber(const Number& a, const Number& b) {
  switch (a.type()) {
    case NumberType::Char:
      return Number::boolean(static_cast<int>(a.boolValue()) + static_cast<int>(b.boolValue()) != 0);
    case NumberType::Double:
      return Number::ofDouble(a.doubleValue() + b.doubleValue());
    case NumberType::Float:
      return Number::ofFloat(static_cast<float>(a.doubleValue()) + static_cast<float>(b.doubleValue()));
    case NumberType::Long:
      return Number::ofLong(wrappingSum<long>(a, b));
    case NumberType::LongLong:
      return Number::ofLongLong(wrappingSum<long long>(a, b));
    case NumberType::Short:
      return Number::ofShort(wrappingSum<short>(a, b));
    case NumberType::UChar:
      return Number::ofUChar(wrappingSum<unsigned char>(a, b));
    case NumberType::UInt:
      return Number::ofUInt(wrappingSum<unsigned>(a, b));
    case NumberType::ULong:
      return Number::ofULong(wrappingSum<unsigned long>(a, b));
    case NumberType::ULongLong:
      return Number::ofULongLong(wrappingSum<unsigned long long>(a, b));
    case NumberType::UShort:
      return Number::ofUShort(wrappingSum<unsigned short>(a, b));
    case NumberType::Int:
      break;
  }
  return Number::ofInt(wrappingSum<int>(a, b));
}

}  // namespace backend
