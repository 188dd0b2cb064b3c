#include "backend/field_operation.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "backend/object.hpp"
#include "platform/exceptions.hpp"
#include "platform/json.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

using platform::Array;
using platform::InternalInconsistencyException;
using platform::InvalidArgumentException;
using platform::Number;

using Make = std::function<FieldOperationPtr()>;

ObjectPtr item(const std::string& id, const std::string& className = "Item") {
  return Object::objectWithoutData(className, id);
}

Make setTo(Value v) {
  return [v] { return SetOperation::create(v.deepCopy()); };
}
Make del() {
  return [] { return DeleteOperation::create(); };
}
Make inc(int n) {
  return [n] { return IncrementOperation::create(Number::ofInt(n)); };
}
Make add(const char* s) {
  return [s] { return AddOperation::create({Value(s)}); };
}
Make addUnique(const char* s) {
  return [s] { return AddUniqueOperation::create({Value(s)}); };
}
Make remove(const char* s) {
  return [s] { return RemoveOperation::create({Value(s)}); };
}
Make relation(const char* id) {
  return [id] { return RelationOperation::addRelationToObjects({Value(item(id))}); };
}

// "<kind>:<wire form>", or "!<message>" for a refused merge.
std::string render(const FieldOperationPtr& op) {
  if (!op) return "nothing";
  std::string kind = dynamic_cast<SetOperation*>(op.get())           ? "Set"
                     : dynamic_cast<DeleteOperation*>(op.get())      ? "Delete"
                     : dynamic_cast<IncrementOperation*>(op.get())   ? "Increment"
                     : dynamic_cast<AddOperation*>(op.get())         ? "Add"
                     : dynamic_cast<AddUniqueOperation*>(op.get())   ? "AddUnique"
                     : dynamic_cast<RemoveOperation*>(op.get())      ? "Remove"
                     : dynamic_cast<RelationOperation*>(op.get())    ? "Relation"
                                                                     : "?";
  return kind + ":" + platform::json::write(op->encode(UnsavedChildren::Allow, DataObjects::Allow));
}

std::string merged(const Make& receiver, const Make& previous) {
  try {
    return render(receiver()->mergeWithPrevious(previous ? previous() : nullptr));
  } catch (const platform::NamedException& e) {
    return "!" + std::string(e.what());
  }
}

constexpr const char* kInvalid = "!Operation is invalid after previous operation.";
constexpr const char* kNonNumber = "!You cannot increment a non-number.";
constexpr const char* kNonArray = "!You can't add an item to a non-array.";

class FieldOperationTest : public testing::BackendTest {};

TEST_F(FieldOperationTest, MergeTableCoversEveryCombination) {
  const std::vector<std::pair<std::string, Make>> previous = {
      {"none", nullptr},          {"Delete", del()},       {"SetNumber", setTo(Value(2.5))},
      {"SetArray", setTo(Value::array({Value("b")}))},     {"SetText", setTo(Value("text"))},
      {"Increment", inc(2)},      {"Add", add("b")},       {"AddUnique", addUnique("b")},
      {"Remove", remove("b")},    {"Relation", relation("r1")}};
  const std::string relationR2 =
      R"(Relation:{"__op":"AddRelation","objects":[{"__type":"Pointer","objectId":"r2","className":"Item"}]})";
  const std::string relationBoth =
      R"(Relation:{"__op":"AddRelation","objects":[{"__type":"Pointer","objectId":"r1","className":"Item"},)"
      R"({"__type":"Pointer","objectId":"r2","className":"Item"}]})";
  const std::vector<std::pair<Make, std::vector<std::string>>> rows = {
      {setTo(Value("x")), std::vector<std::string>(10, R"(Set:"x")")},
      {del(), std::vector<std::string>(10, R"(Delete:{"__op":"Delete"})")},
      {inc(1),
       {R"(Increment:{"__op":"Increment","amount":1})", "Set:1", "Set:3", kNonNumber, kNonNumber,
        R"(Increment:{"__op":"Increment","amount":3})", kInvalid, kInvalid, kInvalid, kInvalid}},
      {add("a"),
       {R"(Add:{"__op":"Add","objects":["a"]})", R"(Set:["a"])", kNonArray, R"(Set:["b","a"])", kNonArray, kInvalid,
        R"(Add:{"__op":"Add","objects":["b","a"]})", kInvalid, kInvalid, kInvalid}},
      {addUnique("a"),
       {R"(AddUnique:{"__op":"AddUnique","objects":["a"]})", R"(Set:["a"])", kNonArray, R"(Set:["b","a"])", kNonArray,
        kInvalid, kInvalid, R"(AddUnique:{"__op":"AddUnique","objects":["b","a"]})", kInvalid, kInvalid}},
      {remove("a"),
       {R"(Remove:{"__op":"Remove","objects":["a"]})", "!You can't remove items from a deleted array.", kNonArray,
        R"(Set:["b"])", kNonArray, kInvalid, kInvalid, kInvalid, R"(Remove:{"__op":"Remove","objects":["b","a"]})",
        kInvalid}},
      {relation("r2"),
       {relationR2, "!You can't modify a relation after deleting it.", kInvalid, kInvalid, kInvalid, kInvalid,
        kInvalid, kInvalid, kInvalid, relationBoth}},
  };
  for (const auto& [receiver, expected] : rows) {
    for (std::size_t column = 0; column < previous.size(); ++column) {
      EXPECT_EQ(merged(receiver, previous[column].second), expected[column])
          << render(receiver()) << " after " << previous[column].first;
    }
  }
}

TEST_F(FieldOperationTest, IncrementOntoADoubleKeepsTheAmountsIntegerType) {
  auto result = IncrementOperation::create(Number::ofInt(1))->mergeWithPrevious(SetOperation::create(Value(2.5)));
  auto set = std::dynamic_pointer_cast<SetOperation>(result);
  ASSERT_TRUE(set);
  EXPECT_EQ(set->value().number()->type(), platform::NumberType::Int);
  EXPECT_EQ(set->value().number()->longLongValue(), 3);
}

TEST_F(FieldOperationTest, ApplyRulesForPlainOperations) {
  EXPECT_EQ(IncrementOperation::create(Number::ofInt(4))->applyToValue(Value(), "k", nullptr), Value(4));
  EXPECT_EQ(testing::raisedMessage<InternalInconsistencyException>(
                [] { IncrementOperation::create(Number::ofInt(1))->applyToValue(Value("s"), "k", nullptr); }),
            "You cannot increment a non-number.");
  Value old = Value::array({Value(1)});
  EXPECT_EQ(AddOperation::create({Value(2)})->applyToValue(old, "k", nullptr), Value::array({Value(1), Value(2)}));
  EXPECT_EQ(old, Value::array({Value(1)})) << "the old array is not changed in place";
  EXPECT_EQ(testing::raisedMessage<InternalInconsistencyException>(
                [] { AddOperation::create({Value(2)})->applyToValue(Value("s"), "k", nullptr); }),
            "Operation is invalid after previous operation.");
  EXPECT_EQ(RemoveOperation::create({Value(2)})->applyToValue(Value(), "k", nullptr), Value::emptyArray());
  EXPECT_EQ(DeleteOperation::shared()->applyToValue(old, "k", nullptr), Value());
  EXPECT_EQ(testing::raisedMessage<InternalInconsistencyException>([] { SetOperation::create(Value()); }),
            "Cannot set a nil value in a BEObject.");
}

TEST_F(FieldOperationTest, AddUniqueDropsDuplicatesAndReplacesSavedObjectsById) {
  auto unique = AddUniqueOperation::create({Value("x"), Value("x"), Value("y")});
  EXPECT_EQ(Value(unique->objects()), Value::array({Value("x"), Value("y")}));

  auto first = item("same"), second = item("same"), other = item("other");
  Value old = Value::array({Value(first), Value(other), Value("x")});
  Value result = AddUniqueOperation::create({Value(second), Value("x"), Value("z")})->applyToValue(old, "k", nullptr);
  ASSERT_EQ(result.array()->size(), 4u);
  EXPECT_EQ((*result.array())[0].object<Object>(), second);
  EXPECT_EQ((*result.array())[1].object<Object>(), other);
  EXPECT_EQ((*result.array())[3], Value("z"));
}

TEST_F(FieldOperationTest, RemoveTakesEqualElementsAndOneInstancePerSavedObjectId) {
  auto first = item("same"), again = item("same"), twice = item("same"), stranger = item("stranger");
  Value old = Value::array({Value("a"), Value(first), Value("b"), Value(twice), Value("a")});
  Value result = RemoveOperation::create({Value("a"), Value(again), Value(stranger)})->applyToValue(old, "k", nullptr);
  ASSERT_EQ(result.array()->size(), 2u);
  EXPECT_EQ((*result.array())[0], Value("b"));
  EXPECT_EQ((*result.array())[1].object<Object>(), twice);
}

TEST_F(FieldOperationTest, RelationOperationsNeedSavedObjectsOfOneClass) {
  EXPECT_EQ(testing::raisedMessage<InvalidArgumentException>([] {
              RelationOperation::addRelationToObjects({Value(Object::objectWithClassName("Item"))});
            }),
            "All objects in a relation must have object ids.");
  EXPECT_EQ(testing::raisedMessage<InvalidArgumentException>([] {
              RelationOperation::removeRelationToObjects({Value(item("a")), Value(item("b", "Other"))});
            }),
            "All objects in a relation must be of the same class.");
  auto empty = RelationOperation::addRelationToObjects({});
  EXPECT_EQ(empty->targetClass(), std::nullopt);
  EXPECT_EQ(testing::raisedMessage<InternalInconsistencyException>(
                [&] { empty->encode(UnsavedChildren::Allow, DataObjects::Allow); }),
            "A BERelationOperation was created without any data.");
}

TEST_F(FieldOperationTest, TheLaterRelationEditOfAnIdWins) {
  auto addX = RelationOperation::addRelationToObjects({Value(item("x")), Value(item("y"))});
  auto removeX = RelationOperation::removeRelationToObjects({Value(item("x"))});
  auto result = std::dynamic_pointer_cast<RelationOperation>(removeX->mergeWithPrevious(addX));
  ASSERT_EQ(result, removeX) << "merged in place";
  EXPECT_EQ(result->relationsToAdd(), RelationOperation::IdSet{"y"});
  EXPECT_EQ(result->relationsToRemove(), RelationOperation::IdSet{"x"});
  EXPECT_EQ(platform::json::write(result->encode(UnsavedChildren::Allow, DataObjects::Allow)),
            R"({"__op":"Batch","ops":[{"__op":"AddRelation","objects":[{"__type":"Pointer","objectId":"y",)"
            R"("className":"Item"}]},{"__op":"RemoveRelation","objects":[{"__type":"Pointer","objectId":"x",)"
            R"("className":"Item"}]}]})");

  auto onlyX = RelationOperation::addRelationToObjects({Value(item("x"))});
  auto removal = RelationOperation::removeRelationToObjects({Value(item("x"))});
  removal->mergeWithPrevious(onlyX);
  EXPECT_EQ(platform::json::write(removal->encode(UnsavedChildren::Allow, DataObjects::Allow)),
            R"({"__op":"RemoveRelation","objects":[{"__type":"Pointer","objectId":"x","className":"Item"}]})");

  auto otherClass = RelationOperation::addRelationToObjects({Value(item("z", "Other"))});
  EXPECT_EQ(testing::raisedMessage<InvalidArgumentException>([&] { otherClass->mergeWithPrevious(onlyX); }),
            "Related object object must be of class Item, but Other was passed in");
}

TEST_F(FieldOperationTest, RelationApplyCreatesABoundRelationAndChecksItsClass) {
  auto parent = Object::objectWithClassName("Parent");
  Value created = RelationOperation::addRelationToObjects({Value(item("x"))})->applyToValue(Value(), "items", parent);
  auto relation = created.object<testing::TestRelation>();
  ASSERT_TRUE(relation);
  EXPECT_EQ(relation->targetClass(), "Item");
  EXPECT_EQ(relation->key(), "items");
  auto other = RelationOperation::addRelationToObjects({Value(item("z", "Other"))});
  EXPECT_EQ(testing::raisedMessage<InvalidArgumentException>([&] { other->applyToValue(created, "items", parent); }),
            "Related object object must be of class Item, but Other was passed in");
  EXPECT_EQ(testing::raisedMessage<InternalInconsistencyException>(
                [&] { other->applyToValue(Value(3), "items", parent); }),
            "Operation is invalid after previous operation.");
}

TEST_F(FieldOperationTest, DecodersRebuildEveryWireForm) {
  FieldOperation::registerDefaultDecoders();
  auto decode = [](const char* json) {
    return render(FieldOperation::decode(*platform::json::parse(json).value().dictionary()));
  };
  EXPECT_EQ(decode(R"({"__op":"Delete"})"), R"(Delete:{"__op":"Delete"})");
  EXPECT_EQ(decode(R"({"__op":"Increment","amount":2.5})"), R"(Increment:{"__op":"Increment","amount":2.5})");
  EXPECT_EQ(decode(R"({"__op":"Add","objects":[{"__type":"Date","iso":"2001-01-01T00:00:00.000Z"}]})"),
            R"(Add:{"__op":"Add","objects":[{"__type":"Date","iso":"2001-01-01T00:00:00.000Z"}]})");
  EXPECT_EQ(decode(R"({"__op":"AddUnique","objects":[1,1]})"), R"(AddUnique:{"__op":"AddUnique","objects":[1]})");
  EXPECT_EQ(decode(R"({"__op":"Remove","objects":[2]})"), R"(Remove:{"__op":"Remove","objects":[2]})");
  EXPECT_EQ(decode(R"({"__op":"Batch","ops":[{"__op":"Add","objects":[1]},{"__op":"Add","objects":[2]}]})"),
            R"(Add:{"__op":"Add","objects":[1,2]})");
  EXPECT_EQ(decode(R"({"__op":"Batch","ops":[]})"), "nothing");
  EXPECT_EQ(decode(R"({"__op":"Batch","ops":[)"
                   R"({"__op":"AddRelation","objects":[{"__type":"Pointer","objectId":"a","className":"Item"}]},)"
                   R"({"__op":"RemoveRelation","objects":[{"__type":"Pointer","objectId":"b","className":"Item"}]}]})"),
            R"(Relation:{"__op":"Batch","ops":[{"__op":"AddRelation","objects":[{"__type":"Pointer","objectId":"a",)"
            R"("className":"Item"}]},{"__op":"RemoveRelation","objects":[{"__type":"Pointer","objectId":"b",)"
            R"("className":"Item"}]}]})");
  EXPECT_EQ(testing::raisedMessage<InternalInconsistencyException>([&] { decode(R"({"__op":"Frobnicate"})"); }),
            "Unable to decode operation of type Frobnicate.");
  EXPECT_EQ(testing::raisedMessage<InternalInconsistencyException>([&] { decode(R"({"__op":"Add","objects":3})"); }),
            "Unable to decode operation of type Add.");
  EXPECT_EQ(testing::raisedMessage<InternalInconsistencyException>([&] { decode(R"({"__op":"Increment"})"); }),
            "Unable to decode operation of type Increment.");
}

TEST_F(FieldOperationTest, DescriptionsNameTheChange) {
  EXPECT_EQ(SetOperation::create(Value(3))->description(), "set to 3");
  EXPECT_EQ(DeleteOperation::shared()->description(), "delete");
  EXPECT_EQ(IncrementOperation::create(Number::ofInt(2))->description(), "increment by 2");
  EXPECT_EQ(RelationOperation::addRelationToObjects({Value(item("a"))})->description(),
            "BERelationOperation<Item> add:{(\n    a\n)} remove:{(\n)}");
}

}  // namespace
}  // namespace backend
