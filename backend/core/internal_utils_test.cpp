#include "backend/internal/internal_utils.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <set>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "backend/field_operation.hpp"
#include "backend/internal/typed_kind.hpp"
#include "backend/object.hpp"
#include "platform/exceptions.hpp"
#include "platform/json.hpp"
#include "platform/log.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

using platform::Array;
using platform::Date;
using platform::Dictionary;
using platform::InternalInconsistencyException;
using platform::InvalidArgumentException;
using platform::Number;
using testing::raisedMessage;

class TypedCodecTest : public testing::BackendTest {};

Value parse(std::string_view text) { return platform::json::parse(text).value(); }

TEST_F(TypedCodecTest, EncodesNonJSONValuesAsTypedDictionaries) {
  Value value = Value::dictionary({{"when", Value(Date(1394022896.789))},
                                   {"bytes", Value(platform::Bytes{'h', 'i', '!'})},
                                   {"list", Value::array({Value(1), Value("x")})},
                                   {"nothing", Value::null()}});
  Value typed = InternalUtils::encodeObject(value, UnsavedChildren::Disallow, DataObjects::Disallow);
  EXPECT_EQ(typed, parse(R"({"when": {"__type": "Date", "iso": "2014-03-05T12:34:56.789Z"},
                             "bytes": {"__type": "Bytes", "base64": "aGkh"},
                             "list": [1, "x"], "nothing": null})"));
  // The input is not touched.
  EXPECT_TRUE(value["when"].isDate());
}

TEST_F(TypedCodecTest, EncodesDataObjectsByIdOrLocalIdAndRefusesThemWhereNotAllowed) {
  auto saved = Object::objectWithoutData("Armor", "abc");
  EXPECT_EQ(InternalUtils::encodeObject(Value(saved), UnsavedChildren::Disallow, DataObjects::Allow),
            parse(R"({"__type": "Pointer", "objectId": "abc", "className": "Armor"})"));
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] {
              InternalUtils::encodeObject(Value(saved), UnsavedChildren::Allow, DataObjects::Disallow);
            }),
            "BEObjects are not allowed here.");

  auto unsaved = Object::objectWithClassName("Armor");
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] {
              InternalUtils::encodeObject(Value::array({Value(unsaved)}), UnsavedChildren::Disallow, DataObjects::Allow);
            }),
            "Tried to save an object with a new, unsaved child.");
  Value pointer = InternalUtils::encodeObject(Value(unsaved), UnsavedChildren::Allow, DataObjects::Allow);
  EXPECT_EQ(pointer["localId"], Value(*unsaved->localId()));
  EXPECT_EQ(pointer["className"], Value("Armor"));
  // The local id is created once and kept.
  EXPECT_EQ(InternalUtils::encodeObject(Value(unsaved), UnsavedChildren::Allow, DataObjects::Allow), pointer);
}

TEST_F(TypedCodecTest, FieldOperationsInsideValuesAllowUnsavedChildren) {
  auto unsaved = Object::objectWithClassName("Armor");
  Value value = Value::dictionary({{"items", Value(AddOperation::create({Value(unsaved)}))}});
  Value typed = InternalUtils::encodeObject(value, UnsavedChildren::Disallow, DataObjects::Allow);
  EXPECT_EQ(typed["items"]["__op"], Value("Add"));
  EXPECT_EQ(typed["items"]["objects"][std::size_t{0}]["localId"], Value(*unsaved->localId()));
}

TEST_F(TypedCodecTest, DecodesEveryBuiltInType) {
  Value decoded = InternalUtils::decodeObject(parse(R"({
      "date": {"__type": "Date", "iso": "2014-03-05T12:34:56.789Z"},
      "bytes": {"__type": "Bytes", "base64": "aGkh"},
      "pointer": {"__type": "Pointer", "objectId": "p1", "className": "Armor"},
      "both": {"__type": "Pointer", "objectId": "p2", "localId": "local_0000000000000007", "className": "Armor"},
      "nested": [{"plain": {"__type": "Date", "iso": "1970-01-01T00:00:00.001Z"}}]})"));
  EXPECT_EQ(decoded["date"], Value(Date(1394022896.789)));
  EXPECT_EQ(decoded["bytes"], Value(platform::Bytes{'h', 'i', '!'}));
  auto pointer = decoded["pointer"].object<Object>();
  ASSERT_TRUE(pointer);
  EXPECT_EQ(pointer->objectId(), "p1");
  EXPECT_EQ(pointer->backendClassName(), "Armor");
  EXPECT_FALSE(pointer->isDataAvailable());
  auto both = decoded["both"].object<Object>();
  ASSERT_TRUE(both);
  EXPECT_EQ(both->objectId(), std::nullopt);
  EXPECT_EQ(both->localId(), "local_0000000000000007");
  EXPECT_EQ(decoded["nested"][std::size_t{0}]["plain"], Value(Date(0.001)));
}

TEST_F(TypedCodecTest, DecodingAGivenUpTreeLeavesContainersSharedWithOthersAlone) {
  Value tree = parse(R"({"kept": {"when": {"__type": "Date", "iso": "2014-03-05T12:34:56.789Z"}},
                         "list": [{"__type": "Date", "iso": "bad"}], "own": {"__type": "Bytes", "base64": "aGkh"}})");
  const Value sharedMember = tree["kept"];
  const Value sharedList = tree["list"];
  Value decoded = InternalUtils::decodeObject(std::move(tree));
  EXPECT_EQ(decoded["kept"]["when"], Value(Date(1394022896.789)));
  EXPECT_EQ(decoded["list"], Value::array({Value::null()}));
  EXPECT_EQ(decoded["own"], Value(platform::Bytes{'h', 'i', '!'}));
  // What someone else still holds keeps its typed form.
  EXPECT_TRUE(sharedMember["when"].isDictionary());
  EXPECT_TRUE(sharedList[std::size_t{0}].isDictionary());
}

TEST_F(TypedCodecTest, EncodingToTextInOnePassWritesWhatEncodeThenSerializeWrites) {
  auto saved = Object::objectWithoutData("Armor", "abc");
  auto unsaved = Object::objectWithClassName("Armor");
  Value value = Value::dictionary(
      {{"when", Value(Date(1394022896.789))},
       {"list", Value::array({Value(platform::Bytes{'h', 'i'}), Value::dictionary({{"at", Value(Date(-1.25))}})})},
       {"owner", Value(saved)},
       {"items", Value(AddOperation::create({Value(unsaved)}))},
       {"plain", Value::array({Value(1), Value("x"), Value::null()})}});
  EXPECT_EQ(InternalUtils::encodeToJSON(value, UnsavedChildren::Disallow, DataObjects::Allow),
            InternalUtils::serializeToJSON(
                InternalUtils::encodeObject(value, UnsavedChildren::Disallow, DataObjects::Allow)));
  // Unsaved children by local id, an id that needs escaping, dates past the
  // calendar's ends.
  auto quoted = Object::objectWithoutData("Armor", "a\"b\\");
  Value edges = Value::array({Value(unsaved), Value(quoted), Value(Date(-1e300)), Value(Date(1e300)),
                              Value(platform::Bytes{})});
  EXPECT_EQ(InternalUtils::encodeToJSON(edges, UnsavedChildren::Allow, DataObjects::Allow),
            InternalUtils::serializeToJSON(InternalUtils::encodeObject(edges, UnsavedChildren::Allow, DataObjects::Allow)));

  // The encoder's own refusals come through unchanged; a value with no
  // typed form is a serialization failure.
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] {
              InternalUtils::encodeToJSON(Value::array({Value(unsaved)}), UnsavedChildren::Disallow,
                                          DataObjects::Allow);
            }),
            "Tried to save an object with a new, unsaved child.");
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] {
              InternalUtils::encodeToJSON(Value(saved), UnsavedChildren::Allow, DataObjects::Disallow);
            }),
            "BEObjects are not allowed here.");
  struct Opaque : platform::SharedObject {};
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] {
              InternalUtils::encodeToJSON(Value::array({Value(std::make_shared<Opaque>())}),
                                          UnsavedChildren::Allow, DataObjects::Allow);
            }),
            "BEObject values must be serializable to JSON");
}

TEST_F(TypedCodecTest, DecodesAnEmbeddedObjectWithItsIdTimestampsAndTypedFields) {
  auto object = InternalUtils::decodeObject(parse(R"({"__type": "Object", "className": "Armor", "objectId": "o1",
      "createdAt": "2014-03-05T12:34:56.789Z", "rupees": 7,
      "forged": {"__type": "Date", "iso": "2001-02-03T04:05:06.007Z"}})"))
                    .object<Object>();
  ASSERT_TRUE(object);
  EXPECT_EQ(object->backendClassName(), "Armor");
  EXPECT_EQ(object->objectId(), "o1");
  EXPECT_EQ(object->createdAt(), Date(1394022896.789));
  EXPECT_EQ(object->updatedAt(), object->createdAt());
  EXPECT_EQ(object->objectForKey("rupees"), Value(7));
  EXPECT_TRUE(object->objectForKey("forged").isDate());
  EXPECT_FALSE(object->isDirty());
  EXPECT_EQ(object->allKeys(), (std::vector<std::string>{"forged", "rupees"}));
}

TEST_F(TypedCodecTest, UnknownTypesStayUndecodedAndMalformedKnownTypesDecodeToNothing) {
  Value unknown = parse(R"({"__type": "Mystery", "inner": {"__type": "Date", "iso": "2014-03-05T12:34:56.789Z"}})");
  Value decoded = InternalUtils::decodeObject(unknown);
  EXPECT_EQ(decoded, unknown);
  EXPECT_TRUE(decoded["inner"].isDictionary());

  Value malformed = InternalUtils::decodeObject(parse(R"({
      "noMillis": {"__type": "Date", "iso": "2014-03-05T12:34:56Z"},
      "badBase64": {"__type": "Bytes", "base64": "a!=="},
      "noClass": {"__type": "Pointer", "objectId": "x"},
      "numericLocalId": {"__type": "Pointer", "className": "Armor", "objectId": "x", "localId": 7},
      "mystery": {"__type": "Mystery", "inner": {"__type": "Date", "iso": "2014-03-05T12:34:56.789Z"}},
      "list": [{"__type": "Date", "iso": 5}, 1]})"));
  EXPECT_FALSE(malformed.dictionary()->contains("noMillis"));
  EXPECT_FALSE(malformed.dictionary()->contains("badBase64"));
  EXPECT_FALSE(malformed.dictionary()->contains("noClass"));
  EXPECT_FALSE(malformed.dictionary()->contains("numericLocalId"));
  EXPECT_TRUE(malformed["mystery"]["inner"].isDictionary());
  EXPECT_EQ(malformed["list"], Value::array({Value::null(), Value(1)}));
}

// A value type of a later layer, registered through the one registration point.
class Spot : public platform::SharedObject {
 public:
  Spot(double x, double y) : x(x), y(y) {}
  bool isEqual(const SharedObject& other) const override {
    auto* spot = dynamic_cast<const Spot*>(&other);
    return spot && spot->x == x && spot->y == y;
  }
  double x, y;
};

TEST_F(TypedCodecTest, RegisteredKindsJoinEncodingDecodingAndTheValueRules) {
  registerTypedKind(typedKindFor<Spot>(
      "Spot", "Spot",
      [](const Spot& spot) { return Value::dictionary({{"__type", "Spot"}, {"x", spot.x}, {"y", spot.y}}); },
      [](const Dictionary& typed) -> Value {
        if (!typed.get("x").isNumber() || !typed.get("y").isNumber()) return Value();
        return Value(std::make_shared<Spot>(typed.get("x").doubleValue(), typed.get("y").doubleValue()));
      },
      kRoleFieldValue | kRoleContainer | kRoleComparable));
  Value spot(std::make_shared<Spot>(1.5, -2));
  Value typed = InternalUtils::encodeObject(Value::array({spot}), UnsavedChildren::Disallow, DataObjects::Disallow);
  EXPECT_EQ(InternalUtils::serializeToJSON(typed), R"([{"__type":"Spot","x":1.5,"y":-2}])");
  EXPECT_EQ(InternalUtils::decodeObject(typed), Value::array({spot}));
  EXPECT_NO_THROW(InternalUtils::assertValidClassForValue(spot));
  EXPECT_TRUE(InternalUtils::isContainerClass(spot));
  EXPECT_NO_THROW(InternalUtils::assertValidClassForQuery(spot));
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { InternalUtils::assertValidClassForOrdering(spot); }),
            "Cannot do a query that requires ordering for type: backend::(anonymous namespace)::Spot");
}

TEST_F(TypedCodecTest, ValueClassRulesNameTheRefusedClass) {
  Value operation(DeleteOperation::create());
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { InternalUtils::assertValidClassForValue(operation); }),
            "BEObject values may not have class: backend::DeleteOperation");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] {
              InternalUtils::assertValidClassForQuery(Value(platform::Bytes{1}));
            }),
            "Cannot do a comparison query for type: Bytes");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] { InternalUtils::assertValidClassForOrdering(Value::null()); }),
            "Cannot do a query that requires ordering for type: Null");
  for (const Value& valid : {Value::emptyDictionary(), Value::emptyArray(), Value("s"), Value(1), Value::null(),
                             Value(Date(1)), Value(platform::Bytes{}), Value(Object::objectWithClassName("A"))}) {
    EXPECT_NO_THROW(InternalUtils::assertValidClassForValue(valid)) << valid.description();
  }
  EXPECT_TRUE(InternalUtils::isContainerClass(Value::emptyArray()));
  EXPECT_FALSE(InternalUtils::isContainerClass(Value("s")));
}

TEST_F(TypedCodecTest, SerializingRefusesValuesWithoutJSONFormAndParsingLogsFailures) {
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] { InternalUtils::serializeToJSON(Value(Date(0))); }),
            "BEObject values must be serializable to JSON");
  platform::LogCapture log;
  EXPECT_TRUE(InternalUtils::parseJSON("{\"a\":").isNil());
  EXPECT_TRUE(log.contains("JSON deserialization failed. Error trace is: "));
  EXPECT_EQ(InternalUtils::parseJSON("[1]"), Value::array({Value(1)}));
}

TEST(CacheKeyTest, SortsKeysAtEveryLevelAndEndsEveryMemberWithAComma) {
  Value value = parse(R"({"b": [1, "x"], "a": null})");
  EXPECT_EQ(InternalUtils::cacheKeyForObject(value), R"({"a":null,"b":[1,"x",],})");
  EXPECT_EQ(InternalUtils::cacheKeyForObject(Value::emptyDictionary()), "{}");
  EXPECT_EQ(InternalUtils::cacheKeyForObject(Value::emptyArray()), "[]");
  EXPECT_EQ(InternalUtils::cacheKeyForObject(parse(R"({"z": {"y": 1, "x": {"c": true, "b": 2.5}}, "Z": "q\"uote"})")),
            R"({"Z":"q\"uote","z":{"x":{"b":2.5,"c":true,},"y":1,},})");
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] {
              InternalUtils::cacheKeyForObject(Value::array({Value(Date(0))}));
            }).rfind("Couldn't create cache key from ", 0),
            0u);
}

TEST(CacheKeyTest, DistinctValuesNeverShareAKey) {
  const std::vector<std::pair<const char*, const char*>> pairs = {
      {R"({"name": "x\",title:\"y"})", R"({"name": "x", "title": "y"})"},
      {R"({"a\":\"b": 1})", R"({"a": "b:1"})"},
      {R"(["x\\", "y"])", R"(["x\\\", \"y"])"},
      {R"([true])", R"([1])"},
      {R"([1.0])", R"([1])"},
  };
  for (const auto& [first, second] : pairs) {
    EXPECT_NE(InternalUtils::cacheKeyForObject(parse(first)), InternalUtils::cacheKeyForObject(parse(second)))
        << first << " and " << second;
  }
}

TEST(CacheKeyTest, MD5IsLowerCaseHex) {
  EXPECT_EQ(InternalUtils::calculateMD5(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(InternalUtils::calculateMD5("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(AddNumberTest, IntegerSumsWidenInsteadOfWrapping) {
  Number widened = InternalUtils::addNumber(Number::ofUChar(255), Number::ofInt(1));
  EXPECT_EQ(widened.type(), platform::NumberType::Int);
  EXPECT_EQ(widened.longLongValue(), 256);
  // An int amount onto a 64-bit counter past 2^31 - 1.
  Number counter = InternalUtils::addNumber(Number::ofInt(1), Number::ofLongLong(2147483647LL));
  EXPECT_EQ(counter.type(), platform::NumberType::LongLong);
  EXPECT_EQ(counter.longLongValue(), 2147483648LL);
  Number twoInts = InternalUtils::addNumber(Number::ofInt(2147483647), Number::ofInt(2147483647));
  EXPECT_EQ(twoInts.longLongValue(), 4294967294LL);
  Number huge = InternalUtils::addNumber(Number::ofLongLong(9223372036854775807LL), Number::ofInt(1));
  EXPECT_EQ(huge.type(), platform::NumberType::ULongLong);
  EXPECT_EQ(huge.unsignedLongLongValue(), 9223372036854775808ULL);
  EXPECT_EQ(InternalUtils::addNumber(Number::ofShort(32767), Number::ofInt(1)).longLongValue(), 32768);
  EXPECT_EQ(InternalUtils::addNumber(Number::ofInt(-5), Number::ofUShort(65535)).longLongValue(), 65530);
}

TEST(AddNumberTest, FloatingAndBooleanSumsKeepTheFirstNumbersType) {
  Number fraction = InternalUtils::addNumber(Number::ofDouble(1.25), Number::ofInt(2));
  EXPECT_DOUBLE_EQ(fraction.doubleValue(), 3.25);
  Number truth = InternalUtils::addNumber(Number::boolean(true), Number::boolean(true));
  EXPECT_TRUE(truth.isBoolean());
  EXPECT_TRUE(truth.boolValue());
  Number truncated = InternalUtils::addNumber(Number::ofInt(1), Number::ofDouble(2.5));
  EXPECT_EQ(truncated.type(), platform::NumberType::Int);
  EXPECT_EQ(truncated.longLongValue(), 3);
  Number single = InternalUtils::addNumber(Number::ofFloat(0.5f), Number::ofDouble(0.25));
  EXPECT_EQ(single.type(), platform::NumberType::Float);
  EXPECT_FLOAT_EQ(static_cast<float>(single.doubleValue()), 0.75f);
}

TEST(TimestampTest, PreciseFormatRoundTripsToTheMillisecond) {
  for (double seconds : {0.0, 0.001, 1394022896.789, 951782400.5, -1.25, 253402300799.999}) {
    const std::string text = InternalUtils::stringFromPreciseDate(Date(seconds));
    auto back = InternalUtils::preciseDateFromString(text);
    ASSERT_TRUE(back) << text;
    EXPECT_EQ(std::llround(back->timeIntervalSince1970() * 1000), std::llround(seconds * 1000)) << text;
  }
  EXPECT_EQ(InternalUtils::stringFromPreciseDate(Date(951782400.5)), "2000-02-29T00:00:00.500Z");
  EXPECT_EQ(InternalUtils::stringFromPreciseDate(Date(-1.25)), "1969-12-31T23:59:58.750Z");
  // Every field zero-padded to its width.
  EXPECT_EQ(InternalUtils::stringFromPreciseDate(Date(-30636384832.911)), "0999-03-04T05:06:07.089Z");
}

TEST(TimestampTest, ParsingAcceptsOnlyTheExactFormOfRealDates) {
  EXPECT_EQ(InternalUtils::impreciseDateFromString("2014-03-05T12:34:56Z"), Date(1394022896));
  EXPECT_EQ(InternalUtils::stringFromImpreciseDate(Date(1394022896.999)), "2014-03-05T12:34:56Z");
  for (const char* bad : {"2014-03-05T12:34:56Z", "2014-03-05T12:34:56.789", "2014-02-30T00:00:00.000Z",
                          "2014-13-01T00:00:00.000Z", "2014-03-05 12:34:56.789Z", "2014-03-05T24:00:00.000Z",
                          "2014-03-05T12:34:56.78xZ", ""}) {
    EXPECT_FALSE(InternalUtils::preciseDateFromString(bad)) << bad;
  }
  EXPECT_TRUE(InternalUtils::preciseDateFromString("2000-02-29T23:59:59.999Z"));
  EXPECT_FALSE(InternalUtils::preciseDateFromString("1900-02-29T00:00:00.000Z"));
}

TEST(BackendErrorTest, ErrorsCarryTheirDictionaryAndLogTheVersionLine) {
  platform::LogCapture log;
  platform::Error error = InternalUtils::errorWithCode(kErrorCacheMiss, "cache miss");
  EXPECT_EQ(error.domain, "Backend");
  EXPECT_EQ(error.code, 120);
  EXPECT_EQ(error.userInfo, Value::dictionary({{"code", 120}, {"error", "cache miss"}}));
  EXPECT_TRUE(log.contains("Error: cache miss (Code: 120, Version: 1.4.2)"));

  Value answer = Value::dictionary({{"code", 101}, {"error", "no results matched the query"}, {"extra", true}});
  platform::Error fromServer = InternalUtils::errorFromResult(answer, false);
  EXPECT_EQ(fromServer.code, 101);
  EXPECT_TRUE(fromServer.userInfo.isIdentical(answer));
  EXPECT_FALSE(log.contains("no results matched"));
}

TEST(NetworkRuleTest, AvailabilityFollowsTheFlagRule) {
  using F = platform::ReachabilityFlag;
  using Flags = platform::ReachabilityFlags;
  EXPECT_TRUE(InternalUtils::isNetworkAvailable(Flags()));
  EXPECT_TRUE(InternalUtils::isNetworkAvailable(Flags(F::Reachable)));
  EXPECT_FALSE(InternalUtils::isNetworkAvailable(Flags(F::ConnectionRequired)));
  EXPECT_FALSE(InternalUtils::isNetworkAvailable(F::Reachable | F::ConnectionRequired));
  EXPECT_TRUE(InternalUtils::isNetworkAvailable(F::ConnectionRequired | F::ConnectionOnTraffic));
  EXPECT_TRUE(InternalUtils::isNetworkAvailable(F::ConnectionRequired | F::ConnectionOnDemand));
  EXPECT_FALSE(InternalUtils::isNetworkAvailable(Flags(F::ConnectionRequired) | F::ConnectionOnDemand |
                                                 F::InterventionRequired));
  EXPECT_TRUE(InternalUtils::isNetworkAvailable(Flags(F::ConnectionRequired) | F::InterventionRequired | F::IsWWAN));
}

TEST(IdentityTest, UUIDsAreUpperCaseVersionFour) {
  const std::string a = InternalUtils::createUUID(), b = InternalUtils::createUUID();
  EXPECT_NE(a, b);
  ASSERT_EQ(a.size(), 36u);
  for (std::size_t i : {8u, 13u, 18u, 23u}) EXPECT_EQ(a[i], '-');
  EXPECT_EQ(a[14], '4');
  EXPECT_NE(std::string("89AB").find(a[19]), std::string::npos);
  EXPECT_EQ(a.find_first_of("abcdef"), std::string::npos);
}

TEST(IdentityTest, UUIDsNeverRepeatAcrossDrawsThreadsAndForks) {
  std::set<std::string> seen;
  // Enough for several blocks of random bytes on each thread.
  std::mutex seenMutex;
  auto draw = [&] {
    std::vector<std::string> mine;
    for (int i = 0; i < 500; ++i) mine.push_back(InternalUtils::createUUID());
    std::lock_guard lock(seenMutex);
    seen.insert(mine.begin(), mine.end());
  };
  std::thread other(draw);
  draw();
  other.join();
  EXPECT_EQ(seen.size(), 1000u);

  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string uuid = InternalUtils::createUUID();
    _exit(write(pipeEnds[1], uuid.data(), uuid.size()) == ssize_t(uuid.size()) ? 0 : 1);
  }
  const std::string parentUUID = InternalUtils::createUUID();
  char childUUID[36];
  ASSERT_EQ(read(pipeEnds[0], childUUID, sizeof childUUID), ssize_t(sizeof childUUID));
  waitpid(child, nullptr, 0);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  EXPECT_NE(parentUUID, std::string(childUUID, sizeof childUUID));
}

}  // namespace
}  // namespace backend
