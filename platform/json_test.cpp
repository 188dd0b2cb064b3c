#include "platform/json.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "json_parsers.hpp"
#include "platform/exceptions.hpp"

namespace platform {

// Readable failure output (identical inline definitions may repeat across tests).
inline void PrintTo(const Value& v, std::ostream* os) { *os << v.description(); }

namespace {

Value parsed(std::string_view text) {
  auto result = json::parse(text);
  EXPECT_TRUE(result.ok()) << text << ": " << (result.ok() ? "" : result.error().message());
  return result.ok() ? result.value() : Value();
}

TEST(JSON, NumbersGetTheirStorageTypes) {
  const Value v = parsed(R"([0, -1, 9223372036854775807, -9223372036854775808, 9223372036854775808,
      18446744073709551615, 18446744073709551616, 1.5, 1e2, 2.0, true, false, null])");
  const Array& a = v.asArray();
  const char expected[] = "qqqqQQdddd";
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(a[i].asNumber().typeCode(), expected[i]) << i;
  EXPECT_EQ(a[3].longLongValue(), std::numeric_limits<long long>::min());
  EXPECT_EQ(a[5].asNumber().unsignedLongLongValue(), std::numeric_limits<unsigned long long>::max());
  EXPECT_DOUBLE_EQ(a[6].doubleValue(), 18446744073709551616.0);
  EXPECT_TRUE(a[10].asNumber().isBoolean());
  EXPECT_TRUE(a[12].isNull());
  // Full precision: the nearest double, not an approximation of it.
  EXPECT_EQ(parsed("2.2250738585072011e-308").doubleValue(), 2.2250738585072011e-308);
  EXPECT_EQ(parsed("0.1").doubleValue(), 0.1);
}

TEST(JSON, EveryNumberStorageTypeSurvivesAWriteAndReadBack) {
  using L = std::numeric_limits<long long>;
  const Number numbers[] = {
      Number::ofChar(-128),       Number::ofShort(-32768),   Number::ofInt(-7),
      Number::ofLong(L::min()),   Number::ofLongLong(L::max()), Number::ofUChar(255),
      Number::ofUShort(65535),    Number::ofUInt(4294967295u), Number::ofULong(1ul << 63),
      Number::ofULongLong(~0ull), Number::ofDouble(0.1),
      Number::ofDouble(3.0),      Number::ofDouble(1e300),   Number::ofDouble(-5e-324),
      Number::ofDouble(1234567890123456768.0), Number::ofDouble(123456789012345678901234.0)};
  for (const Number& n : numbers) {
    const std::string text = json::write(Value(n));
    SCOPED_TRACE(text);
    EXPECT_EQ(parsed(text), Value(n));
  }
  // Floats are written in their own shortest form, so they read back as the
  // double nearest that text: equal once rounded to float again.
  for (float f : {0.1f, 3.4028235e38f, -1.17549435e-38f, 16777217.0f, 1e-45f}) {
    const std::string text = json::write(Value(f));
    SCOPED_TRACE(text);
    EXPECT_EQ(static_cast<float>(parsed(text).doubleValue()), f);
  }
  EXPECT_EQ(json::write(Value(0.1f)), "0.1");
  EXPECT_EQ(json::write(Value::array({true, false, 3.0, 0.5, 1e21, 255u})), "[true,false,3,0.5,1e+21,255]");
  // Values the writer produces from integral doubles beyond 2^53 come back as doubles.
  EXPECT_TRUE(parsed(json::write(Value(1e20))).asNumber().isFloating());
}

TEST(JSON, StringsCarryUnicodeEscapedOrRaw) {
  // BMP, astral through a surrogate pair, and raw UTF-8 must all agree.
  EXPECT_EQ(parsed(R"("\u00e6\u00f8\u00e5 \u20ac \ud83d\ude00")"), Value("æøå € 😀"));
  EXPECT_EQ(parsed("\"æøå € 😀\""), Value("æøå € 😀"));
  EXPECT_EQ(parsed(R"("\"\\\/\b\f\n\r\t\u0000x")"), Value(std::string("\"\\/\b\f\n\r\t\0x", 10)));
  // Written compact: "/" and non-ASCII as they are, controls escaped.
  EXPECT_EQ(json::write(Value(std::string("a/b\"c\\d\n\x01 æ😀\0", 17))), "\"a/b\\\"c\\\\d\\n\\u0001 æ😀\\u0000\"");
  // Text that is not UTF-8 still writes valid JSON.
  EXPECT_EQ(json::write(Value(std::string("a\xff" "b\xed\xa0\x80"))), "\"a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");
}

TEST(JSON, NestedContainersRoundTripInOrder) {
  const std::string text =
      R"({"z":{"list":[1,[2,[3,{}]],[]],"s":"x"},"a":null,"m":[{"k":true}],"empty":{}})";
  const Value v = parsed(text);
  EXPECT_EQ(v.asDictionary().keys(), (std::vector<std::string>{"z", "a", "m", "empty"}));
  EXPECT_EQ(json::write(v), text);
  EXPECT_EQ(json::write(v, {.pretty = false, .sortKeys = true}),
            R"({"a":null,"empty":{},"m":[{"k":true}],"z":{"list":[1,[2,[3,{}]],[]],"s":"x"}})");
  EXPECT_EQ(json::write(parsed(R"({"b":[1,{"c":2}],"a":{}})"), {.pretty = true}),
            "{\n  \"b\" : [\n    1,\n    {\n      \"c\" : 2\n    }\n  ],\n  \"a\" : {}\n}");
  // A repeated key keeps one entry, with the last value.
  const Value dup = parsed(R"({"a":1,"b":2,"a":3})");
  EXPECT_EQ(dup.asDictionary().keys(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(dup["a"], Value(3));
  // Depth right at the limit is fine.
  EXPECT_TRUE(json::parse(std::string(512, '[') + std::string(512, ']')).ok());
}

TEST(JSON, AMegabyteDocumentRoundTrips) {
  Array items;
  for (int i = 0; items.size() < 7500; ++i) {
    items.push_back(Value::dictionary({{"id", i},
                                       {"title", "Overskrift nummer " + std::to_string(i) + " – æøå"},
                                       {"score", i * 0.25},
                                       {"tags", Value::array({"a", "b", i % 2 == 0})},
                                       {"meta", Value::dictionary({{"n", Value::null()}, {"big", 1ull << 63}})}}));
  }
  const Value doc(std::move(items));
  const std::string text = json::write(doc);
  ASSERT_GT(text.size(), 1'000'000u);
  EXPECT_EQ(parsed(text), doc);
  EXPECT_EQ(json::write(parsed(text)), text);
}

TEST(JSON, FastAndReferenceReadersAgreeOnValuesAndStorageTypes) {
  for (std::string_view text :
       {"-0", "0.0", "-0.0", "1E2", "1e-400", "-9223372036854775808", "9223372036854775807", "9223372036854775808",
        "18446744073709551615", "123456789012345678901234567890", "-9223372036854775809", "-1e-400", "4.9e-324",
        "2.2250738585072011e-308", "-922337203685477580809551616", "0.000000000000000000000000000000001e-290", "[\"\\udc00\"]",
        "\"\\ud83d\\ude00\\u0000\"", "\"\xef\xbf\xbf\"", " \t\n\r{\"a\":[],\"b\":{},\"a\":true} ", "[1,[2,[3]]]"}) {
    SCOPED_TRACE(std::string(text));
    auto reference = json::detail::parseReference(text);
    auto fast = json::detail::parseFast(text);
    ASSERT_EQ(json::parse(text).ok(), reference.ok());
    if (!fast) continue;  // refused: the reference reader decides alone
    ASSERT_TRUE(reference.ok());
    EXPECT_EQ(*fast, reference.value());
    EXPECT_EQ(json::write(*fast), json::write(reference.value()));
    if (fast->isNumber()) {
      EXPECT_EQ(fast->asNumber().typeCode(), reference.value().asNumber().typeCode());
    }
  }
  // A zero with a huge exponent is still zero, though RapidJSON calls it too big.
  EXPECT_EQ(parsed("[0e721]"), Value::array({0.0}));
  // Past 64 bits only the reference reader reads an integer, as a double.
  EXPECT_FALSE(json::detail::parseFast("18446744073709551616"));
  EXPECT_EQ(parsed("18446744073709551616").asNumber().typeCode(), 'd');
}

void expectParseError(std::string_view text, std::size_t offset, std::string_view problem) {
  SCOPED_TRACE(std::string(text.substr(0, 40)));
  auto result = json::parse(text);
  ASSERT_FALSE(result.ok());
  const Error& e = result.error();
  EXPECT_EQ(e.domain, "JSON");
  EXPECT_EQ(e.code, json::kInvalidJSONCode);
  EXPECT_EQ(e.userInfo["offset"], Value(static_cast<long long>(offset)));
  EXPECT_EQ(e.message().rfind("Invalid JSON at offset " + std::to_string(offset) + ": ", 0), 0u) << e.message();
  EXPECT_NE(e.message().find(problem), std::string::npos) << e.message();
}

TEST(JSON, InvalidTextGivesAnErrorWithItsOffset) {
  expectParseError("", 0, "empty");
  expectParseError(std::string_view(), 0, "empty");  // no buffer at all
  expectParseError("{\"a\":[1,2", 9, "");
  expectParseError("\"abc", 4, "quotation mark");
  expectParseError(R"(["\x"])", 2, "escape");
  expectParseError(R"("\ud800")", 1, "surrogate");
  // A low surrogate with no high one: caught when the string ends.
  expectParseError(R"({"k":"\ud3d8\ude00"})", 19, "surrogate");
  expectParseError(R"({"\udfff":1})", 9, "surrogate");
  expectParseError("\"a\xff\"", 2, "encoding");
  expectParseError("\"\xed\xa0\x80\"", 1, "encoding");
  expectParseError("[1] x", 4, "Unexpected text after the document");
  expectParseError(std::string_view("[1]\0[2]", 7), 3, "Unexpected text after the document");
  expectParseError("{\"a\":1,}", 7, "name");
  expectParseError("[01]", 2, "");
  expectParseError("1e400", 0, "too big");
  expectParseError("[2e308]", 1, "too big");
  expectParseError("[1" + std::string(400, '0') + "]", 1, "too big");
  expectParseError(std::string(513, '[') + std::string(513, ']'), 512, "Nesting deeper than 512 levels.");
  expectParseError(std::string(100000, '{'), 1, "name");
}

TEST(JSON, WriterRefusesValuesJSONCannotCarry) {
  auto expectRefusal = [](const Value& v, const std::string& message) {
    try {
      json::write(Value::dictionary({{"k", Value::array({v})}}));
      ADD_FAILURE() << "no exception for " << message;
    } catch (const InvalidArgumentException& e) {
      EXPECT_EQ(e.what(), message);
    }
  };
  expectRefusal(Value(Date(0)), "Invalid type in JSON write (Date)");
  expectRefusal(Value(Bytes{1}), "Invalid type in JSON write (Bytes)");
  expectRefusal(Value(std::make_shared<SharedObject>()), "Invalid type in JSON write (Object)");
  expectRefusal(Value(NAN), "Invalid number value (NaN or infinity) in JSON write");
  expectRefusal(Value(-std::numeric_limits<double>::infinity()),
                "Invalid number value (NaN or infinity) in JSON write");
  // A cycle is refused instead of recursing forever.
  Value loop = Value::emptyArray();
  loop.asArray().push_back(loop);
  EXPECT_THROW(json::write(loop), InvalidArgumentException);
  loop.asArray().clear();  // break the cycle so it is freed
  EXPECT_EQ(json::write(Value()), "null");
}

TEST(JSON, SubstitutesWriteTheTextOfValuesJSONCannotCarryButNeverChain) {
  const json::Substitute substitute = [](const Value& v, json::TextOutput& out) {
    if (v.isDate()) {
      out.raw(R"({"at":)");
      out.value(Value(v.date()->timeIntervalSince1970()));
      out.raw(",\"tag\":");
      out.string("a\"b\n");
      out.raw("}");
      return;
    }
    if (v.isObject()) {
      out.value(Value::array({Value(Date(3))}));  // inside the substitute: substituted in turn
      return;
    }
    out.value(v);  // hands its argument back
  };
  EXPECT_EQ(json::write(Value::array({Value(Date(2)), Value(1)}), {}, substitute), R"([{"at":2,"tag":"a\"b\n"},1])");
  EXPECT_EQ(json::write(Value(std::make_shared<SharedObject>()), {}, substitute), R"([{"at":3,"tag":"a\"b\n"}])");
  // A substitute that is itself without JSON form is refused, not substituted again.
  try {
    json::write(Value::array({Value(Bytes{1})}), {}, substitute);
    ADD_FAILURE() << "no exception";
  } catch (const InvalidArgumentException& e) {
    EXPECT_STREQ(e.what(), "Invalid type in JSON write (Bytes)");
  }
}

}  // namespace
}  // namespace platform
