#include "platform/value.hpp"

#include <gtest/gtest.h>

#include "platform/exceptions.hpp"

namespace platform {

// Readable failure output (identical inline definitions may repeat across tests).
inline void PrintTo(const Value& v, std::ostream* os) { *os << v.description(); }

namespace {

struct Point : SharedObject {
  Point(double x, double y) : x(x), y(y) {}
  bool isEqual(const SharedObject& other) const override {
    auto* p = dynamic_cast<const Point*>(&other);
    return p && p->x == x && p->y == y;
  }
  double x, y;
};

TEST(Value, ArraysAndDictionariesAreSharedByCopyButNotByDeepCopy) {
  Value list = Value::array({1, "two"});
  Value alias = list;
  Value copy = list.deepCopy();
  alias.asArray().push_back(Value(3));
  EXPECT_EQ(list.asArray().size(), 3u);
  EXPECT_EQ(copy.asArray().size(), 2u);
  EXPECT_TRUE(list.isIdentical(alias));
  EXPECT_FALSE(list.isIdentical(copy));

  Value inner = Value::emptyDictionary();
  Value outer = Value::dictionary({{"inner", inner}});
  Value deep = outer.deepCopy();
  inner.asDictionary().set("k", "v");
  EXPECT_EQ(outer["inner"]["k"], Value("v"));
  EXPECT_TRUE(deep["inner"].isDictionary());
  EXPECT_TRUE(deep["inner"]["k"].isNil());

  // Shared objects stay shared in a deep copy.
  auto point = std::make_shared<Point>(1, 2);
  Value withObject = Value::array({Value(point)});
  EXPECT_EQ(withObject.deepCopy()[0].object<Point>(), point);
  EXPECT_NE(Value::emptyArray().array(), Value::emptyArray().array());
}

TEST(Value, EqualityIsDeepAndNumericAcrossStorageTypes) {
  EXPECT_EQ(Value(1), Value(1.0));
  EXPECT_EQ(Value(true), Value(1));
  EXPECT_EQ(Value(static_cast<unsigned long long>(7)), Value(7LL));
  EXPECT_NE(Value(1), Value("1"));
  EXPECT_NE(Value(), Value::null());
  EXPECT_EQ(Value::dictionary({{"a", 1}, {"b", Value::array({2.0, "x"})}}),
            Value::dictionary({{"b", Value::array({2, "x"})}, {"a", 1.0}}));
  EXPECT_NE(Value::array({1, 2}), Value::array({2, 1}));
  EXPECT_NE(Value::dictionary({{"a", 1}}), Value::dictionary({{"a", 1}, {"b", 2}}));
  EXPECT_EQ(Value(Bytes{1, 2}), Value(Bytes{1, 2}));
  EXPECT_NE(Value(Bytes{1, 2}), Value(Bytes{1, 3}));
  EXPECT_EQ(Value(Date(10.5)), Value(Date(10.5)));
  EXPECT_EQ(Value(std::make_shared<Point>(1, 2)), Value(std::make_shared<Point>(1, 2)));
  EXPECT_NE(Value(std::make_shared<Point>(1, 2)), Value(std::make_shared<Point>(1, 3)));
}

TEST(Value, AccessorsAnswerNilOrRaiseOnTheWrongKind) {
  Value text("hi");
  EXPECT_EQ(text.number(), nullptr);
  EXPECT_EQ(text.array(), nullptr);
  EXPECT_TRUE(text["key"].isNil());
  EXPECT_TRUE(Value::array({1})[5].isNil());
  EXPECT_EQ(text.longLongValue(), 0);
  EXPECT_FALSE(Value("1").boolValue());
  EXPECT_THROW(text.asNumber(), InvalidArgumentException);
  EXPECT_THROW(Value(3).asDictionary(), InvalidArgumentException);
  try {
    Value(3).asString();
    FAIL();
  } catch (const InvalidArgumentException& e) {
    EXPECT_EQ(e.name(), "NSInvalidArgumentException");
    EXPECT_STREQ(e.what(), "Value is not a String (it is a Number)");
  }
  EXPECT_EQ(Value(2.75).longLongValue(), 2);
  EXPECT_DOUBLE_EQ(Value(3).doubleValue(), 3.0);
}

TEST(Dictionary, KeepsInsertionOrderAndRemovesOnNil) {
  Dictionary d{{"z", 1}, {"a", 2}, {"m", 3}, {"a", 4}, {"gone", Value()}};
  EXPECT_EQ(d.keys(), (std::vector<std::string>{"z", "a", "m"}));
  EXPECT_EQ(d.get("a"), Value(4));
  d.set("b", 5);
  d.set("z", 6);
  EXPECT_EQ(d.keys(), (std::vector<std::string>{"z", "a", "m", "b"}));
  EXPECT_EQ(d.sortedKeys(), (std::vector<std::string>{"a", "b", "m", "z"}));
  d.set("a", Value());
  EXPECT_FALSE(d.contains("a"));
  EXPECT_TRUE(d.remove("m"));
  EXPECT_FALSE(d.remove("m"));
  EXPECT_EQ(d.keys(), (std::vector<std::string>{"z", "b"}));
  EXPECT_EQ(d.get("z"), Value(6));
  EXPECT_TRUE(d.get("missing").isNil());
  d.set("null", Value::null());
  EXPECT_TRUE(d.contains("null"));
}

TEST(Value, DescriptionIsPropertyListStyle) {
  Value v = Value::dictionary({{"name", "Vestavind"},
                               {"two words", "a b"},
                               {"list", Value::array({1, 2.5, Value::null()})},
                               {"empty", Value::emptyArray()},
                               {"on", true}});
  EXPECT_EQ(v.description(),
            "{\n"
            "    name = Vestavind;\n"
            "    \"two words\" = \"a b\";\n"
            "    list = (\n"
            "        1,\n"
            "        2.5,\n"
            "        <null>\n"
            "    );\n"
            "    empty = (\n"
            "    );\n"
            "    on = 1;\n"
            "}");
  EXPECT_EQ(Value("plain text").description(), "plain text");
  EXPECT_EQ(Value(Date(0)).description(), "1970-01-01 00:00:00 +0000");
  EXPECT_EQ(Value(Bytes{1, 2, 3, 4, 255}).description(), "<01020304 ff>");
  EXPECT_EQ(Value().description(), "(null)");
}

TEST(Date, ConvertsToTimePointsAndSaturates) {
  const Date d(1.5);
  EXPECT_EQ(Date::fromTimePoint(d.timePoint()), d);
  EXPECT_EQ(Date(1e300).timePoint(), std::chrono::system_clock::time_point::max());
  EXPECT_DOUBLE_EQ(Date(10).addingTimeInterval(2.5).timeIntervalSince(Date(10)), 2.5);
  EXPECT_LT(Date(1), Date(2));
}

}  // namespace
}  // namespace platform
