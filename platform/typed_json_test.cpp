#include "typed_json.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace platform::detail {
namespace {

Value roundTrip(const Value& value) {
  std::string problem;
  auto decoded = decodeTypedJson(encodeTypedJson(value), problem);
  EXPECT_TRUE(decoded) << problem;
  return decoded.value_or(Value());
}

TEST(TypedJson, NumbersKeepTheirStorageTypeAndExtremeValues) {
  std::vector<Number> numbers = {
      Number::boolean(true),          Number::ofChar(-5),
      Number::ofShort(SHRT_MIN),      Number::ofInt(INT_MAX),
      Number::ofLong(LONG_MIN),       Number::ofLongLong(LLONG_MIN),
      Number::ofUChar(255),           Number::ofUShort(USHRT_MAX),
      Number::ofUInt(UINT_MAX),       Number::ofULong(ULONG_MAX),
      Number::ofULongLong(ULLONG_MAX), Number::ofFloat(0.1f),
      Number::ofDouble(-1e-300),      Number::ofDouble(std::numeric_limits<double>::infinity()),
  };
  for (const Number& number : numbers) {
    Value back = roundTrip(Value(number));
    ASSERT_TRUE(back.isNumber()) << number.description();
    EXPECT_EQ(back.asNumber().typeCode(), number.typeCode()) << number.description();
    EXPECT_EQ(back.asNumber().isBoolean(), number.isBoolean()) << number.description();
    EXPECT_EQ(back.asNumber().compare(number), 0) << number.description();
  }
  EXPECT_EQ(roundTrip(Value(Number::ofULongLong(ULLONG_MAX))).asNumber().unsignedLongLongValue(), ULLONG_MAX);
  EXPECT_TRUE(std::isnan(roundTrip(Value(std::nan(""))).asNumber().doubleValue()));
}

TEST(TypedJson, EveryStoredKindSurvivesNestedAndKeysLookingLikeTagsStayKeys) {
  Value tree = Value::dictionary({
      {"$dict", "a key that looks like a tag"},
      {"text", "blåbær ✓"},
      {"date", Value(Date(1234567890.125))},
      {"bytes", Value(Bytes{0, 1, 2, 255})},
      {"null", Value::null()},
      {"list", Value::array({Value::array({}), Value::dictionary({}), 1.5})},
  });
  EXPECT_EQ(roundTrip(tree), tree);
  EXPECT_TRUE(roundTrip(tree)["null"].isNull());
  EXPECT_EQ(roundTrip(tree)["date"].asDate(), Date(1234567890.125));
}

TEST(TypedJson, UnstorableValuesAreNamed) {
  struct Thing : SharedObject {};
  EXPECT_TRUE(typedJsonProblem(Value()));
  EXPECT_TRUE(typedJsonProblem(Value::array({Value(std::make_shared<Thing>())})));
  EXPECT_TRUE(typedJsonProblem(Value::array({Value()})));
  Value deep = Value::array({});
  Value cursor = deep;
  for (int i = 0; i < kTypedJsonMaxDepth + 1; ++i) {
    Value next = Value::array({});
    cursor.asArray().push_back(next);
    cursor = next;
  }
  EXPECT_TRUE(typedJsonProblem(deep));
  // A cycle is caught by the depth limit instead of recursing forever.
  Value cycle = Value::array({});
  cycle.asArray().push_back(cycle);
  EXPECT_TRUE(typedJsonProblem(cycle));
  cycle.asArray().clear();
  EXPECT_FALSE(typedJsonProblem(Value::dictionary({{"ok", Value::array({1, "x"})}})));
}

TEST(TypedJson, MalformedDocumentsAreRejectedWithAReason) {
  for (const char* text : {"", "{", "12", "true", "{\"$num\":\"z\",\"v\":1}", "{\"$num\":\"i\",\"v\":\"1\"}",
                           "{\"$num\":\"i\",\"v\":1.5}", "{\"$data\":\"***\"}", "{\"$date\":\"x\"}",
                           "{\"$dict\":[]}", "{\"plain\":1}", "{\"$bool\":1}", "[1]",
                           "{\"$dict\":{\"a\":{\"$unknown\":1}}}"}) {
    std::string problem;
    EXPECT_FALSE(decodeTypedJson(text, problem)) << text;
    EXPECT_FALSE(problem.empty()) << text;
  }
}

TEST(Base64, EncodesAndDecodesEveryPaddingCase) {
  auto bytes = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
  EXPECT_EQ(base64Encode(bytes("")), "");
  EXPECT_EQ(base64Encode(bytes("f")), "Zg==");
  EXPECT_EQ(base64Encode(bytes("fo")), "Zm8=");
  EXPECT_EQ(base64Encode(bytes("foo")), "Zm9v");
  EXPECT_EQ(base64Encode(bytes("foobar")), "Zm9vYmFy");
  EXPECT_EQ(base64Decode("Zm9vYg=="), bytes("foob"));
  EXPECT_EQ(base64Decode("Zm9vYmE="), bytes("fooba"));
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(base64Decode(base64Encode(all)), all);
  for (const char* bad : {"Zg=", "Z===", "Zg=a", "Zm9v!A==", "=Zg="}) EXPECT_EQ(base64Decode(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace platform::detail
