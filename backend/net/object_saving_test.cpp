// Data objects saved, fetched and deleted against the devserver.

#include <gtest/gtest.h>

#include <functional>

#include "backend/field_operation.hpp"
#include "backend/object.hpp"
#include "platform/exceptions.hpp"
#include "platform/run_loop.hpp"
#include "support/backend/devserver_fixture.hpp"

namespace backend {
namespace {

using platform::Error;
using testing::raisedMessage;

class ObjectSavingTest : public testing::DevserverTest {
 protected:
  static ObjectPtr note(const std::string& text) {
    auto object = Object::objectWithClassName("Note");
    object->setObject(Value(text), "text");
    return object;
  }

  std::vector<std::string> operationsSeen() {
    std::vector<std::string> operations;
    for (const auto& command : commandsSeen()) operations.push_back(command.operation);
    return operations;
  }
};

TEST_F(ObjectSavingTest, CreateUpdateAndDeleteRoundTrip) {
  auto object = note("hei");
  object->incrementKey("count");
  std::optional<Error> error;
  ASSERT_TRUE(object->save(&error)) << (error ? error->message() : "");
  ASSERT_TRUE(object->objectId());
  EXPECT_TRUE(object->createdAt());
  EXPECT_FALSE(object->isDirty());

  object->setObject(Value("hallo"), "text");
  object->incrementKey("count", platform::Number::ofInt(2));
  ASSERT_TRUE(object->save(&error));
  EXPECT_EQ(storedObject("Note", *object->objectId())["count"].longLongValue(), 3);
  EXPECT_EQ(operationsSeen(), (std::vector<std::string>{"create", "update"}));

  auto other = Object::objectWithoutData("Note", *object->objectId());
  ASSERT_EQ(other->fetch(&error), other);
  EXPECT_EQ(other->objectForKey("text"), Value("hallo"));
  EXPECT_EQ(other->updatedAt(), object->updatedAt());

  ASSERT_TRUE(object->deleteObject(&error));
  EXPECT_TRUE(storedObject("Note", *object->objectId()).isNil());
  EXPECT_EQ(other->fetch(&error), nullptr);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kErrorObjectNotFound);
}

TEST_F(ObjectSavingTest, NothingIsSentWithoutChanges) {
  auto object = note("hei");
  ASSERT_TRUE(object->save());
  forgetCommandsSeen();
  EXPECT_TRUE(object->save());
  EXPECT_TRUE(Object::objectWithClassName("Note")->deleteObject());  // never saved
  EXPECT_TRUE(operationsSeen().empty());
}

TEST_F(ObjectSavingTest, GraphIsSavedInDependencyOrderWithPointersByObjectId) {
  auto leaf = note("leaf");
  auto middle = note("middle");
  auto root = note("root");
  middle->setObject(Value(leaf), "child");
  root->setObject(Value::array({Value(middle), Value(leaf)}), "children");
  root->setObject(Value(middle), "first");

  ASSERT_TRUE(root->save());
  // The leaf in one batch, the middle in the next, then the root's own save.
  EXPECT_EQ(operationsSeen(), (std::vector<std::string>{"multi", "multi", "create"}));
  const Value storedRoot = storedObject("Note", *root->objectId());
  EXPECT_EQ(storedRoot["first"]["objectId"], Value(*middle->objectId()));
  EXPECT_EQ(storedRoot["children"][1]["objectId"], Value(*leaf->objectId()));
  EXPECT_EQ(storedObject("Note", *middle->objectId())["child"]["objectId"], Value(*leaf->objectId()));
  EXPECT_FALSE(root->isDirty());
}

TEST_F(ObjectSavingTest, OnlyADirtyChildIsSaved) {
  auto child = note("child");
  auto stored = note("parent");
  ASSERT_TRUE(Object::saveAll({child, stored}));
  // A parent that holds this very child object without a change of its own.
  auto parent = Object::objectWithoutData("Note", *stored->objectId());
  parent->mergeAfterFetch(Value::dictionary({{"data", Value::dictionary({{"child", Value(child)}})}}),
                          Completeness::Complete);
  child->setObject(Value("changed"), "text");
  forgetCommandsSeen();

  ASSERT_TRUE(parent->save());
  const auto seen = commandsSeen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].operation, "multi");
  EXPECT_EQ(seen[0].body["commands"][std::size_t{0}]["op"], Value("update"));
}

TEST_F(ObjectSavingTest, ObjectReachedAgainThroughItsChildIsSentOnce) {
  auto saved = note("saved");
  ASSERT_TRUE(saved->save());
  auto fresh = note("fresh");
  fresh->setObject(Value(saved), "back");
  saved->setObject(Value(fresh), "forward");
  saved->incrementKey("count");

  ASSERT_TRUE(saved->save());
  EXPECT_EQ(storedObject("Note", *saved->objectId())["count"].longLongValue(), 1);
  EXPECT_EQ(storedObject("Note", *fresh->objectId())["back"]["objectId"], Value(*saved->objectId()));
  EXPECT_FALSE(saved->isDirty());
}

TEST_F(ObjectSavingTest, CyclesOfNewObjectsAreRefusedBeforeAnythingIsSent) {
  auto a = note("a");
  auto b = note("b");
  a->setObject(Value(b), "other");
  b->setObject(Value(a), "other");
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { a->save(); }),
            "Found a circular dependency when saving.");
  a->removeObjectForKey("other");  // objects that hold each other are never freed otherwise

  // A pointer to an unsaved object outside the graph can never be ordered.
  auto dangling = note("dangling");
  dangling->setObject(Value(Object::objectWithoutDataWithLocalId("Note", "local_00000000000000aa")), "other");
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { Object::saveAll({dangling}); }),
            "Unable to save a BEObject with a relation to a cycle.");
  EXPECT_TRUE(operationsSeen().empty());
}

TEST_F(ObjectSavingTest, EditsMadeDuringASaveStayPendingWhenItSucceeds) {
  auto object = note("first");
  ASSERT_TRUE(object->save());
  object->setObject(Value("second"), "text");
  addFault(1, 0, 200);  // hold the answer while the object is edited
  Task<bool> saving = object->saveAsync();
  object->setObject(Value("third"), "text");
  object->incrementKey("count");
  EXPECT_TRUE(saving.waitForResult());

  EXPECT_EQ(storedObject("Note", *object->objectId())["text"], Value("second"));
  EXPECT_EQ(object->objectForKey("text"), Value("third"));
  EXPECT_TRUE(object->isDirtyForKey("text"));
  EXPECT_TRUE(object->isDirtyForKey("count"));
  ASSERT_TRUE(object->save());
  EXPECT_EQ(storedObject("Note", *object->objectId())["text"], Value("third"));
}

TEST_F(ObjectSavingTest, AFailedSaveKeepsItsEditsUnderTheNewerOnes) {
  auto object = note("first");
  ASSERT_TRUE(object->save());
  object->incrementKey("count");
  object->setObject(Value("second"), "text");
  addFault(1, 500, 100);
  Task<bool> saving = object->saveAsync();
  object->incrementKey("count");
  std::optional<Error> error;
  EXPECT_FALSE(saving.waitForResult(&error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kErrorConnectionFailed);

  EXPECT_EQ(object->objectForKey("count").longLongValue(), 2);
  EXPECT_EQ(object->objectForKey("text"), Value("second"));
  EXPECT_EQ(object->operationSetCount(), 1u);
  ASSERT_TRUE(object->save());
  const Value stored = storedObject("Note", *object->objectId());
  EXPECT_EQ(stored["count"].longLongValue(), 2);
  EXPECT_EQ(stored["text"], Value("second"));
}

TEST_F(ObjectSavingTest, AQueuedSaveOrBatchSendsTheEditsOfTheFailedSaveBeforeIt) {
  const std::function<Task<bool>(const ObjectPtr&)> queuedSaves[] = {
      [](const ObjectPtr& object) { return object->saveAsync(); },
      [](const ObjectPtr& object) { return Object::saveAllAsync({object}); }};
  for (const auto& queuedSave : queuedSaves) {
    auto object = note("first");
    ASSERT_TRUE(object->save());
    object->setObject(Value("a"), "a");
    addFault(1, 500, 100);
    Task<bool> failing = object->saveAsync();
    object->setObject(Value("b"), "b");
    Task<bool> queued = queuedSave(object);
    EXPECT_FALSE(failing.waitForResult());
    EXPECT_TRUE(queued.waitForResult());

    const Value stored = storedObject("Note", *object->objectId());
    EXPECT_EQ(stored["a"], Value("a"));
    EXPECT_EQ(stored["b"], Value("b"));
    EXPECT_FALSE(object->isDirty());
  }
}

TEST_F(ObjectSavingTest, AFailedBatchMakesEveryObjectPendingAgain) {
  auto child = note("child");
  auto parent = note("parent");
  parent->setObject(Value(child), "child");
  addFault(1, 500);
  std::optional<Error> error;
  EXPECT_FALSE(parent->save(&error));
  ASSERT_TRUE(error);
  EXPECT_FALSE(child->objectId());
  EXPECT_TRUE(child->isDirtyForKey("text"));
  EXPECT_TRUE(parent->isDirtyForKey("child"));
  EXPECT_EQ(child->operationSetCount(), 1u);
  ASSERT_TRUE(parent->save());
  EXPECT_EQ(storedObject("Note", *child->objectId())["text"], Value("child"));
}

TEST_F(ObjectSavingTest, DeleteAllSendsOneDeletePerRecord) {
  auto a = note("a");
  auto b = note("b");
  ASSERT_TRUE(Object::saveAll({a, b}));
  forgetCommandsSeen();
  auto sameAsA = Object::objectWithoutData("Note", *a->objectId());
  ASSERT_TRUE(Object::deleteAll({a, b, a, sameAsA, Object::objectWithClassName("Note")}));

  const auto seen = commandsSeen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].operation, "multi");
  EXPECT_EQ(seen[0].body["commands"].array()->size(), 2u);
  EXPECT_TRUE(storedObject("Note", *a->objectId()).isNil());
  EXPECT_TRUE(storedObject("Note", *b->objectId()).isNil());
  EXPECT_TRUE(Object::deleteAll({}));
}

TEST_F(ObjectSavingTest, FetchNeedsAnObjectId) {
  EXPECT_EQ(raisedMessage<platform::InvalidArgumentException>([] { Object::objectWithClassName("Note")->fetch(); }),
            "Can't refresh an object that hasn't been saved to the server.");
}

TEST_F(ObjectSavingTest, FetchAllTakesTheServersDataForEveryObject) {
  auto a = note("a");
  auto b = note("b");
  ASSERT_TRUE(Object::saveAll({a, b}));
  auto refA = Object::objectWithoutData("Note", *a->objectId());
  auto refB = Object::objectWithoutData("Note", *b->objectId());
  forgetCommandsSeen();

  std::optional<Error> error;
  auto fetched = Object::fetchAll({refA, refB, refA}, &error);
  ASSERT_FALSE(error);
  ASSERT_EQ(fetched.size(), 3u);
  EXPECT_EQ(refA->objectForKey("text"), Value("a"));
  EXPECT_EQ(refB->objectForKey("text"), Value("b"));
  EXPECT_TRUE(refB->isDataAvailable());
  const auto seen = commandsSeen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].operation, "find");
  EXPECT_EQ(seen[0].body["limit"], Value("2"));

  // Everything here already: the if-needed form asks for nothing.
  forgetCommandsSeen();
  EXPECT_EQ(Object::fetchAllIfNeeded({refA, refB}).size(), 2u);
  EXPECT_TRUE(commandsSeen().empty());

  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>(
                [&] { Object::fetchAll({refA, Object::objectWithoutData("Other", "x")}); }),
            "All object should be in the same class");
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>(
                [&] { Object::fetchAll({refA, Object::objectWithoutData("Note", "missing1")}); }),
            "All objects must exist on the server");
}

TEST_F(ObjectSavingTest, ListenersHearOfSingleSavesAndCallbacksRunOnTheMainQueue) {
  auto object = note("hei");
  int heard = 0;
  object->registerSaveListener([&](const ObjectPtr& saved, const std::optional<Error>& error) {
    EXPECT_EQ(saved, object);
    EXPECT_FALSE(error);
    ++heard;
  });
  std::optional<bool> delivered;
  bool onMain = false;
  object->saveInBackground([&](bool succeeded, const std::optional<Error>&) {
    onMain = platform::isMainThread();
    delivered = succeeded;
  });
  ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return delivered.has_value(); }, std::chrono::seconds(60)));
  EXPECT_TRUE(*delivered);
  EXPECT_TRUE(onMain);
  EXPECT_EQ(heard, 1);

  // Saved in a batch as someone's child: no listener call.
  auto parent = note("parent");
  object->setObject(Value("changed"), "text");
  parent->setObject(Value(object), "child");
  ASSERT_TRUE(parent->save());
  EXPECT_EQ(heard, 1);

  ObjectPtr fetched;
  auto reference = Object::objectWithoutData("Note", *object->objectId());
  reference->fetchIfNeededInBackground([&](const ObjectPtr& result, const std::optional<Error>&) { fetched = result; });
  ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return fetched != nullptr; }, std::chrono::seconds(60)));
  EXPECT_EQ(reference->objectForKey("text"), Value("changed"));
}

}  // namespace
}  // namespace backend
