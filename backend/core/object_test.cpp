#include "backend/object.hpp"

#include <gtest/gtest.h>

#include "backend/internal/internal_utils.hpp"
#include "platform/exceptions.hpp"
#include "platform/json.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

using platform::InternalInconsistencyException;
using platform::InvalidArgumentException;
using testing::raisedMessage;

class ObjectTest : public testing::BackendTest {};

// The pending set as {key: wire form}.
std::string pending(const OperationSet& operations) {
  platform::Dictionary wire;
  for (const auto& [key, operation] : operations) {
    wire.set(key, operation->encode(UnsavedChildren::Allow, DataObjects::Allow));
  }
  return platform::json::write(Value(std::move(wire)));
}

Value answer(const char* json) { return InternalUtils::decodeObject(platform::json::parse(json).value()); }

TEST_F(ObjectTest, LocalObjectsAndReferencesStartInTheirOwnStates) {
  auto local = Object::objectWithClassName("Armor");
  EXPECT_TRUE(local->isDirty());
  EXPECT_TRUE(local->isDataAvailable());
  EXPECT_EQ(local->objectId(), std::nullopt);

  auto reference = Object::objectWithoutData("Armor", "abc");
  EXPECT_FALSE(reference->isDirty());
  EXPECT_FALSE(reference->isDataAvailable());
  EXPECT_EQ(reference->objectId(), "abc");
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { reference->objectForKey("name"); }),
            "Key \"name\" has no data.  Call fetchIfNeeded before getting its value.");

  EXPECT_EQ(raisedMessage<InvalidArgumentException>([] { Object::objectWithClassName("_Secret"); }),
            "Invalid class name. Class names cannot start with an underscore.");
  auto filled = Object::objectWithClassName("Armor", platform::Dictionary{{"rupees", Value(3)}});
  EXPECT_EQ(filled->objectForKey("rupees"), Value(3));
}

TEST_F(ObjectTest, SettingAndRemovingRecordsOnePendingOperationPerField) {
  auto object = Object::objectWithClassName("Armor");
  object->setObject(Value("steel"), "name");
  object->removeObjectForKey("name");
  object->removeObjectForKey("neverSet");
  object->incrementKey("count");
  object->incrementKey("count", platform::Number::ofInt(4));
  object->setObject(Value::array({Value("a")}), "tags");
  object->addUniqueObjectsFromArray({Value("a"), Value("b")}, "tags");
  EXPECT_EQ(pending(object->unsavedChanges()), R"({"count":{"__op":"Increment","amount":5},)"
                                               R"("name":{"__op":"Delete"},"tags":["a","b"]})");
  EXPECT_EQ(object->objectForKey("name"), Value());
  EXPECT_EQ(object->objectForKey("count"), Value(5));
  EXPECT_EQ(object->allKeys(), (std::vector<std::string>{"count", "tags"}));

  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { object->setObject(Value(), "x"); }),
            "Can't use nil for keys or values on BEObject. Use NSNull for values.");
  Value unregistered(std::make_shared<testing::TestRelation>(std::weak_ptr<Object>(), "k"));
  EXPECT_EQ(raisedMessage<InvalidArgumentException>([&] { object->setObject(unregistered, "x"); }),
            "BEObject values may not have class: backend::testing::TestRelation");
  EXPECT_FALSE(object->isDirtyForKey("x"));
}

TEST_F(ObjectTest, ARefusedMergeLeavesTheObjectUnchanged) {
  auto object = Object::objectWithClassName("Armor");
  object->setObject(Value::array({Value(1)}), "list");
  object->removeObjectForKey("list");
  const std::string before = pending(object->unsavedChanges());
  // Remove applies to the missing value, but cannot follow the pending delete.
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { object->removeObject(Value(1), "list"); }),
            "You can't remove items from a deleted array.");
  EXPECT_EQ(object->objectForKey("list"), Value());
  EXPECT_EQ(object->allKeys(), std::vector<std::string>{});
  EXPECT_EQ(pending(object->unsavedChanges()), before);

  object->setObject(Value(7), "n");
  object->addObject(Value(1), "tags");
  EXPECT_THROW(object->incrementKey("tags"), InternalInconsistencyException);
  EXPECT_EQ(object->objectForKey("tags"), Value::array({Value(1)}));
}

TEST_F(ObjectTest, InPlaceContainerEditsMakeTheObjectDirty) {
  auto object = Object::objectWithoutData("Armor", "a1");
  object->mergeAfterFetch(answer(R"({"data": {"stats": {"hp": 3}, "tags": ["x"]}})"), Completeness::Complete);
  EXPECT_FALSE(object->isDirty());
  object->objectForKey("stats").dictionary()->set("hp", Value(4));
  EXPECT_TRUE(object->isDirtyForKey("stats"));
  EXPECT_FALSE(object->isDirtyForKey("tags"));
  object->objectForKey("tags").array()->push_back(Value("y"));
  EXPECT_TRUE(object->isDirty());
  EXPECT_EQ(pending(object->unsavedChanges()), R"({"stats":{"hp":4},"tags":["x","y"]})");
}

TEST_F(ObjectTest, AFailedSaveKeepsEveryEditMadeBeforeAndDuringIt) {
  auto object = Object::objectWithoutData("Armor", "a1");
  object->mergeAfterFetch(answer(R"({"data": {"count": 1, "name": "old"}})"), Completeness::Complete);
  object->setObject(Value("new"), "name");
  object->addObject(Value("x"), "tags");
  object->incrementKey("count");
  object->startSave();
  // Edits while the save is in flight.
  object->addObject(Value("y"), "tags");
  object->incrementKey("count", platform::Number::ofInt(10));
  object->setObject(Value(true), "fresh");
  const auto estimate = object->estimatedDataSnapshot();

  object->mergeAfterSave(Value());
  EXPECT_EQ(object->operationSetCount(), 1u);
  EXPECT_EQ(object->estimatedDataSnapshot(), estimate);
  EXPECT_EQ(pending(object->unsavedChanges()), R"({"count":{"__op":"Increment","amount":11},"fresh":true,)"
                                               R"("name":"new","tags":{"__op":"Add","objects":["x","y"]}})");
  object->rebuildEstimatedData();
  EXPECT_EQ(object->estimatedDataSnapshot(), estimate);
  EXPECT_EQ(object->objectForKey("count"), Value(12));
}

TEST_F(ObjectTest, AFailedSaveWhoseOperationsDoNotCombineKeepsEveryFieldAsExpected) {
  auto object = Object::objectWithoutData("Armor", "a1");
  object->mergeAfterFetch(answer(R"({"data": {"tags": ["a", "b"], "count": 1}})"), Completeness::Complete);
  object->removeObjectForKey("tags");
  object->incrementKey("count");
  object->setObject(Value("x"), "name");
  const Object::SaveId save = object->startSave();
  // A remove cannot merge onto the delete being saved.
  object->removeObject(Value("a"), "tags");
  const auto estimate = object->estimatedDataSnapshot();

  EXPECT_NO_THROW(object->mergeAfterSave(save, Value()));
  EXPECT_EQ(object->operationSetCount(), 1u);
  EXPECT_EQ(object->estimatedDataSnapshot(), estimate);
  const OperationSet changes = object->unsavedChanges();
  EXPECT_EQ(changes.size(), 3u) << pending(changes);
  object->rebuildEstimatedData();
  EXPECT_EQ(object->estimatedDataSnapshot(), estimate);
  EXPECT_EQ(object->objectForKey("count"), Value(2));
}

TEST_F(ObjectTest, AFailedSaveFoldsPastASaveAlreadySent) {
  auto object = Object::objectWithoutData("Armor", "a1");
  object->mergeAfterFetch(answer(R"({"data": {"count": 1}})"), Completeness::Complete);
  object->incrementKey("count");
  object->setObject(Value("first"), "name");
  const Object::SaveId first = object->startSave();
  object->changesToSend(first);
  object->incrementKey("count", platform::Number::ofInt(10));
  const Object::SaveId second = object->startSave();
  EXPECT_EQ(pending(object->changesToSend(second)), R"({"count":{"__op":"Increment","amount":10}})");
  object->setObject(Value(true), "fresh");

  // The first fails while the second is on its way: its operations must not
  // land in the second's set, which the server answers without them.
  object->mergeAfterSave(first, Value());
  object->mergeAfterSave(second, answer(R"({"data": {"count": 11}})"));
  EXPECT_EQ(object->operationSetCount(), 1u);
  EXPECT_TRUE(object->isDirtyForKey("name"));
  EXPECT_TRUE(object->isDirtyForKey("count"));
  EXPECT_EQ(object->objectForKey("count"), Value(12));
  EXPECT_EQ(object->objectForKey("name"), Value("first"));
}

TEST_F(ObjectTest, ReplacingADataObjectInAnArrayInPlaceIsAChange) {
  auto object = Object::objectWithoutData("Armor", "a1");
  object->setHasBeenFetched(true);
  object->setObject(Value::array({Value(Object::objectWithoutData("Gem", "g1"))}), "gems");
  object->mergeAfterSave(answer(R"({"data": {}})"));
  ASSERT_FALSE(object->isDirty());

  // The old member goes first, so a new object may take its address.
  platform::Array& gems = *object->objectForKey("gems").array();
  gems[0] = Value();
  gems[0] = Value(Object::objectWithoutData("Gem", "g2"));
  EXPECT_TRUE(object->isDirtyForKey("gems"));
}

TEST_F(ObjectTest, AContainerKeptThroughASaveStillShowsInPlaceEdits) {
  auto object = Object::objectWithoutData("Armor", "a1");
  object->setHasBeenFetched(true);
  object->setObject(Value::array({Value("x")}), "tags");
  Object::SaveId save = object->startSave();
  // Edited in place while its save is in flight: pending again afterwards.
  object->objectForKey("tags").array()->push_back(Value("y"));
  object->mergeAfterSave(save, answer(R"({"data": {}})"));
  EXPECT_EQ(pending(object->unsavedChanges()), R"({"tags":["x","y"]})");

  save = object->startSave();
  object->mergeAfterSave(save, answer(R"({"data": {}})"));
  ASSERT_FALSE(object->isDirty());
  object->objectForKey("tags").array()->push_back(Value("z"));
  EXPECT_TRUE(object->isDirtyForKey("tags"));
  EXPECT_EQ(pending(object->unsavedChanges()), R"({"tags":["x","y","z"]})");
}

TEST_F(ObjectTest, ASuccessfulSaveMergesTheAnswerUnderTheEditsMadeDuringIt) {
  auto object = Object::objectWithClassName("Armor");
  object->setObject(Value(1), "count");
  object->setObject(Value("kept"), "note");
  object->startSave();
  object->incrementKey("count");
  object->mergeAfterSave(answer(R"({"data": {"objectId": "s1", "createdAt": "2014-03-05T12:34:56.789Z",
                                              "extra": "server"}})"));
  EXPECT_EQ(object->objectId(), "s1");
  EXPECT_EQ(object->updatedAt(), InternalUtils::preciseDateFromString("2014-03-05T12:34:56.789Z"));
  EXPECT_EQ(object->objectForKey("count"), Value(2));
  EXPECT_EQ(object->objectForKey("note"), Value("kept")) << "a save answer drops no field";
  EXPECT_EQ(object->objectForKey("extra"), Value("server"));
  EXPECT_EQ(pending(object->unsavedChanges()), R"({"count":{"__op":"Increment","amount":1}})");
  EXPECT_TRUE(object->isDirty());
  object->startSave();
  object->mergeAfterSave(answer(R"({"data": {}})"));
  EXPECT_FALSE(object->isDirty());
}

TEST_F(ObjectTest, AFetchDropsFieldsTheAnswerLacks) {
  auto object = Object::objectWithoutData("Armor", "a1");
  object->mergeAfterFetch(answer(R"({"data": {"a": 1, "b": 2}})"), Completeness::Complete);
  object->mergeAfterFetch(answer(R"({"data": {"a": 5}})"), Completeness::Complete);
  EXPECT_EQ(object->allKeys(), std::vector<std::string>{"a"});
  EXPECT_EQ(object->objectForKey("a"), Value(5));
}

TEST_F(ObjectTest, ServerAnswersFillIdsTimestampsPointersAndTheAccessList) {
  auto object = Object::objectWithoutData("Armor", "a1");
  object->mergeFromServer(answer(R"({"id": "a2", "created_at": "2014-03-05T12:34:56Z",
      "pointers": {"owner": ["Player", "p1"], "bad": ["Player"]},
      "data": {"ACL": {"*": {"read": true}}, "power": 9}})"),
                          Completeness::Partial);
  EXPECT_EQ(object->objectId(), "a2");
  EXPECT_EQ(object->createdAt(), InternalUtils::impreciseDateFromString("2014-03-05T12:34:56Z"));
  EXPECT_EQ(object->updatedAt(), object->createdAt());
  EXPECT_FALSE(object->isDataAvailable());
  EXPECT_TRUE(object->isDataAvailableForKey("owner"));
  EXPECT_FALSE(object->isDataAvailableForKey("bad"));
  auto server = object->serverDataSnapshot();
  EXPECT_EQ(server["owner"].object<Object>()->objectId(), "p1");
  auto acl = server["ACL"].object<testing::TestACL>();
  ASSERT_TRUE(acl);
  EXPECT_EQ(acl->permissions(), answer(R"({"*": {"read": true}})"));
  EXPECT_EQ(server["power"], Value(9));
}

TEST_F(ObjectTest, ReadingASharedAccessListGivesAPrivateCopyAsAPendingChange) {
  auto shared = std::make_shared<testing::TestACL>(answer(R"({"*": {"read": true}})"), true);
  defaultACL_ = shared;
  auto object = Object::objectWithClassName("Armor");
  EXPECT_EQ(object->estimatedDataSnapshot()["ACL"].object<AccessListBase>(), shared);
  auto acl = object->ACL();
  ASSERT_TRUE(acl);
  EXPECT_NE(acl, shared);
  EXPECT_FALSE(acl->isShared());
  EXPECT_EQ(object->unsavedChanges().at("ACL")->description(), "set to " + acl->description());
  EXPECT_EQ(object->ACL(), acl) << "the copy is made once";
}

TEST_F(ObjectTest, IsDirtyEndsOnACycleOfCleanObjects) {
  auto a = Object::objectWithoutData("Node", "a"), b = Object::objectWithoutData("Node", "b");
  a->mergeAfterFetch(Value::dictionary({{"data", Value::dictionary({{"next", Value(b)}})}}), Completeness::Complete);
  b->mergeAfterFetch(Value::dictionary({{"data", Value::dictionary({{"next", Value(a)}})}}), Completeness::Complete);
  EXPECT_FALSE(a->isDirty());
  b->setObject(Value(1), "x");
  EXPECT_TRUE(a->isDirty());
  EXPECT_FALSE(a->isDirty(Children::Ignore));
  // Break the cycle so the objects are freed.
  a->mergeAfterFetch(answer(R"({"data": {}})"), Completeness::Complete);
}

TEST_F(ObjectTest, LocalIdsComeFromTheManagerAndResolveToObjectIds) {
  auto object = Object::objectWithClassName("Armor");
  const std::string local = object->getOrCreateLocalId();
  EXPECT_EQ(object->getOrCreateLocalId(), local);
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { object->resolveLocalId(); }),
            "Tried to save an object with a pointer to a new, unsaved object.");
  localIds_->setObjectIdForLocalId("server-id", local);
  object->resolveLocalId();
  EXPECT_EQ(object->objectId(), "server-id");
  EXPECT_EQ(object->localId(), std::nullopt);
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { object->resolveLocalId(); }),
            "Tried to resolve a localId for an object with no localId.");
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { object->getOrCreateLocalId(); }),
            "A localId should not be created for an object with an objectId.");

  auto other = Object::objectWithClassName("Armor");
  const std::string otherLocal = other->getOrCreateLocalId();
  other->setObjectId("assigned");
  EXPECT_EQ(localIds_->objectIdForLocalId(otherLocal), "assigned");
  EXPECT_EQ(other->localId(), std::nullopt);
  EXPECT_TRUE(other->isDirty());

  setLocalIdManager(nullptr);
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>(
                [] { Object::objectWithClassName("Armor")->getOrCreateLocalId(); }),
            "No local id manager is installed.");
}

TEST_F(ObjectTest, MergingFromAnotherObjectDropsPendingEditsButNotDuringASave) {
  auto fetched = Object::objectWithoutData("Armor", "a1");
  fetched->mergeAfterFetch(answer(R"({"data": {"name": "server", "updatedAt": "2001-01-01T00:00:00.000Z"}})"),
                           Completeness::Complete);
  auto object = Object::objectWithoutData("Armor", "a1");
  object->setHasBeenFetched(true);
  object->setObject(Value("local"), "name");
  object->startSave();
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { object->mergeFromObject(*fetched); }),
            "Attempt to mergeFromObject during a save.");
  object->mergeAfterSave(Value());
  object->mergeFromObject(*fetched);
  EXPECT_EQ(object->objectForKey("name"), Value("server"));
  EXPECT_TRUE(object->unsavedChanges().empty());
  EXPECT_EQ(object->updatedAt(), fetched->updatedAt());
  EXPECT_FALSE(object->isDirty());
}

TEST_F(ObjectTest, RelationsAreBoundToTheirObjectAndKey) {
  auto object = Object::objectWithClassName("Armor");
  object->performOperation(RelationOperation::addRelationToObjects({Value(Object::objectWithoutData("Gem", "g"))}),
                           "gems");
  auto relation = object->objectForKey("gems").object<testing::TestRelation>();
  ASSERT_TRUE(relation);
  EXPECT_EQ(relation->targetClass(), "Gem");
  EXPECT_EQ(object->relationForKey("gems")->targetClass(), "Gem");
  auto other = Object::objectWithClassName("Armor");
  EXPECT_THROW(relation->ensureParentIs(other, "gems"), InternalInconsistencyException);
  installRelationFactory(nullptr);
  EXPECT_EQ(raisedMessage<InternalInconsistencyException>([&] { object->relationForKey("x"); }),
            "No relation type is installed.");
}

TEST_F(ObjectTest, DescriptionShowsNewForUnsavedObjectsAndHeldObjectsByReference) {
  auto object = Object::objectWithClassName("Armor");
  object->setObject(Value(Object::objectWithoutData("Gem", "g1")), "gem");
  object->setObject(Value(Object::objectWithClassName("Gem")), "spare");
  const std::string text = object->description();
  EXPECT_EQ(text.rfind("<Armor:new:(null)> ", 0), 0u) << text;
  EXPECT_NE(text.find("<Gem:g1>"), std::string::npos) << text;
  EXPECT_NE(text.find("<Gem:new>"), std::string::npos) << text;
}

TEST_F(ObjectTest, SaveListenersAreToldUntilUnregistered) {
  auto object = Object::objectWithClassName("Armor");
  int calls = 0;
  const auto token = object->registerSaveListener([&](const ObjectPtr& saved, const auto& error) {
    EXPECT_EQ(saved, object);
    EXPECT_FALSE(error);
    ++calls;
  });
  object->notifySaveListeners(std::nullopt);
  object->unregisterSaveListener(token);
  object->notifySaveListeners(std::nullopt);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace backend
