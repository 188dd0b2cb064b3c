#include "platform/number.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace platform {
namespace {

TEST(Number, KeepsStorageTypeAndValueForEveryType) {
  using L = std::numeric_limits<long long>;
  using UL = std::numeric_limits<unsigned long long>;
  struct Case {
    Number n;
    char code;
    long double exact;
  };
  const Case cases[] = {
      {Number::ofChar(-128), 'c', -128},
      {Number::ofShort(-32768), 's', -32768},
      {Number::ofInt(std::numeric_limits<int>::min()), 'i', std::numeric_limits<int>::min()},
      {Number::ofLong(L::min()), 'l', L::min()},
      {Number::ofLongLong(L::max()), 'q', L::max()},
      {Number::ofUChar(255), 'C', 255},
      {Number::ofUShort(65535), 'S', 65535},
      {Number::ofUInt(4294967295u), 'I', 4294967295.0L},
      {Number::ofULong(UL::max()), 'L', UL::max()},
      {Number::ofULongLong(UL::max()), 'Q', UL::max()},
      {Number::ofFloat(0.1f), 'f', 0.1f},
      {Number::ofDouble(0.1), 'd', 0.1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(c.n.typeCode(), c.code);
    EXPECT_EQ(c.n, Number::ofType(c.n.type(), c.exact));
    EXPECT_EQ(Number::ofType(c.n.type(), c.exact).typeCode(), c.code);
  }
  EXPECT_EQ(Number::ofULongLong(UL::max()).unsignedLongLongValue(), UL::max());
  EXPECT_EQ(Number::ofLongLong(L::min()).longLongValue(), L::min());
  EXPECT_FALSE(Number::ofInt(1).isBoolean());
  EXPECT_TRUE(Number::boolean(true).isBoolean());
  EXPECT_EQ(Number::boolean(true).typeCode(), 'c');
}

TEST(Number, OfTypeTruncatesLikeACastAndSaturatesFloatingInput) {
  EXPECT_EQ(Number::ofType(NumberType::UChar, 256).unsignedLongLongValue(), 0u);
  EXPECT_EQ(Number::ofType(NumberType::UChar, -1).unsignedLongLongValue(), 255u);
  EXPECT_EQ(Number::ofType(NumberType::Short, 32768).longLongValue(), -32768);
  EXPECT_EQ(Number::ofType(NumberType::Int, 2.9L).longLongValue(), 2);
  EXPECT_EQ(Number::ofType(NumberType::Int, -2.9L).longLongValue(), -2);
  EXPECT_EQ(Number::ofType(NumberType::LongLong, 1e300L).longLongValue(), std::numeric_limits<long long>::max());
  EXPECT_EQ(Number::ofType(NumberType::LongLong, NAN).longLongValue(), 0);
  EXPECT_EQ(Number::ofDouble(-1e300).longLongValue(), std::numeric_limits<long long>::min());
  EXPECT_EQ(Number::ofDouble(-1).unsignedLongLongValue(), std::numeric_limits<unsigned long long>::max());
  EXPECT_FLOAT_EQ(static_cast<float>(Number::ofType(NumberType::Float, 1.5L).doubleValue()), 1.5f);
}

TEST(Number, ComparesNumericallyAcrossStorageTypes) {
  EXPECT_EQ(Number::ofInt(1), Number::ofDouble(1.0));
  EXPECT_EQ(Number::ofInt(1), Number::boolean(true));
  EXPECT_EQ(Number::ofUChar(200), Number::ofLongLong(200));
  EXPECT_EQ(Number::ofFloat(0.5f), Number::ofDouble(0.5));
  // Signed/unsigned mixes must not wrap.
  EXPECT_LT(Number::ofInt(-1), Number::ofULongLong(0));
  EXPECT_LT(Number::ofLongLong(std::numeric_limits<long long>::max()),
            Number::ofULongLong(std::numeric_limits<unsigned long long>::max()));
  // Exact: 2^53 + 1 differs from the double 2^53.
  EXPECT_NE(Number::ofLongLong((1LL << 53) + 1), Number::ofDouble(9007199254740992.0));
  EXPECT_LT(Number::ofDouble(0.5), Number::ofInt(1));
  EXPECT_EQ(Number::ofDouble(NAN), Number::ofDouble(NAN));
  EXPECT_LT(Number::ofDouble(NAN), Number::ofInt(-1000));
}

TEST(Number, DescriptionIsShortestRoundTripText) {
  EXPECT_EQ(Number::boolean(true).description(), "1");
  EXPECT_EQ(Number::boolean(false).description(), "0");
  EXPECT_EQ(Number::ofChar(-5).description(), "-5");
  EXPECT_EQ(Number::ofULongLong(18446744073709551615ull).description(), "18446744073709551615");
  EXPECT_EQ(Number::ofDouble(3.0).description(), "3");
  EXPECT_EQ(Number::ofDouble(-2.0).description(), "-2");
  EXPECT_EQ(Number::ofDouble(1.5).description(), "1.5");
  EXPECT_EQ(Number::ofDouble(0.1).description(), "0.1");
  EXPECT_EQ(Number::ofFloat(0.1f).description(), "0.1");
  EXPECT_EQ(Number::ofDouble(1e300).description(), "1e+300");
  // Integral but beyond exact-integer range: keeps an exponent so it reads back as floating.
  EXPECT_EQ(Number::ofDouble(1234567890123456768.0).description(), "1.2345678901234568e+18");
  EXPECT_EQ(Number::ofDouble(5e-324).description(), "5e-324");
}

}  // namespace
}  // namespace platform
