// Data objects saved and deleted through the offline command queue, against
// the devserver (loopback counts as reachable, so the queue drains at once).

#include <gtest/gtest.h>

#include "backend/object.hpp"
#include "platform/run_loop.hpp"
#include "support/backend/devserver_fixture.hpp"

namespace backend {
namespace {

using platform::Error;

class ObjectEventuallyTest : public testing::DevserverTest {
 protected:
  static ObjectPtr note(const std::string& text) {
    auto object = Object::objectWithClassName("Note");
    object->setObject(Value(text), "text");
    return object;
  }
};

TEST_F(ObjectEventuallyTest, AGraphIsStoredInDependencyOrderAndPointersResolveToObjectIds) {
  auto child = note("child");
  auto parent = note("parent");
  parent->setObject(Value(child), "child");
  std::optional<bool> delivered;
  Task<bool> saving = parent->saveEventually([&](bool succeeded, const std::optional<Error>&) { delivered = succeeded; });
  std::optional<Error> error;
  ASSERT_TRUE(saving.waitForResult(&error)) << (error ? error->message() : "");
  ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return delivered.has_value(); }, std::chrono::seconds(60)));
  EXPECT_TRUE(*delivered);

  ASSERT_TRUE(child->objectId());
  ASSERT_TRUE(parent->objectId());
  EXPECT_EQ(storedObject("Note", *parent->objectId())["child"]["objectId"], Value(*child->objectId()));
  const auto seen = commandsSeen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].body["data"]["text"], Value("child"));
  EXPECT_EQ(seen[1].body["data"]["text"], Value("parent"));
  EXPECT_FALSE(parent->isDirty());
}

TEST_F(ObjectEventuallyTest, AFinalFailureMakesTheChangesPendingAgain) {
  auto product = Object::objectWithoutData("Note", "missing001");  // not on the server
  product->setObject(Value("new name"), "name");
  std::optional<Error> error;
  EXPECT_FALSE(product->saveEventually().waitForResult(&error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kErrorObjectNotFound);
  EXPECT_TRUE(product->isDirtyForKey("name"));
  EXPECT_EQ(product->operationSetCount(), 1u);

  // Nothing to save: done at once, nothing queued.
  forgetCommandsSeen();
  auto saved = note("saved");
  ASSERT_TRUE(saved->save());
  EXPECT_TRUE(saved->saveEventually().waitForResult());
  EXPECT_EQ(commandsSeen().size(), 1u);
}

TEST_F(ObjectEventuallyTest, AnOfflineSaveWaitsForTheSaveUnderWayAndEndsOnlyItsOwnChanges) {
  auto object = note("counted");
  ASSERT_TRUE(object->save());
  object->incrementKey("count");
  addFault(1, 500, 300);
  Task<bool> failing = object->saveAsync();
  object->incrementKey("count");
  Task<bool> eventually = object->saveEventually();
  EXPECT_FALSE(failing.waitForResult());
  std::optional<Error> error;
  EXPECT_TRUE(eventually.waitForResult(&error)) << (error ? error->message() : "");

  // Both increments reached the server once, and nothing is left to send.
  EXPECT_EQ(storedObject("Note", *object->objectId())["count"].longLongValue(), 2);
  EXPECT_FALSE(object->isDirty());
  EXPECT_EQ(object->objectForKey("count").longLongValue(), 2);
}

TEST_F(ObjectEventuallyTest, ACommandTheServerRefusesIsDroppedNotRetried) {
  auto object = note("refused");
  addFault(1, 401);
  Task<bool> saving = object->saveEventually();
  ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return saving.isCompleted(); }, std::chrono::seconds(20)))
      << "a 401 must not wait for the network to come back";
  ASSERT_TRUE(saving.error());
  EXPECT_EQ(saving.error()->code, kErrorConnectionFailed);
  EXPECT_EQ(saving.error()->userInfo["httpStatus"].longLongValue(), 401);
  EXPECT_TRUE(object->isDirtyForKey("text"));
  // The queue is free for the next command.
  EXPECT_TRUE(object->saveEventually().waitForResult());
  EXPECT_FALSE(object->isDirty());
}

TEST_F(ObjectEventuallyTest, DeletesReachTheServerAndAnObjectNeverCreatedFails) {
  auto object = note("doomed");
  ASSERT_TRUE(object->save());
  EXPECT_TRUE(object->deleteEventually().waitForResult());
  EXPECT_TRUE(storedObject("Note", *object->objectId()).isNil());

  std::optional<Error> error;
  EXPECT_FALSE(note("never saved")->deleteEventually().waitForResult(&error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kErrorMissingObjectId);
}

}  // namespace
}  // namespace backend
