// The object side of saving a graph: which objects are collected, in which
// order they can be saved, and queueing work on several objects at once.

#include <gtest/gtest.h>

#include <mutex>

#include "backend/internal/object_save_hooks.hpp"
#include "backend/object.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

using testing::raisedMessage;

class ObjectGraphTest : public testing::BackendTest {
 protected:
  static ObjectPtr fresh() { return Object::objectWithClassName("Note"); }
  static ObjectPtr saved(const std::string& id) {
    auto object = Object::objectWithoutData("Note", id);
    object->mergeAfterFetch(Value::dictionary({{"data", Value::dictionary({{"objectId", id}})}}),
                            Completeness::Complete);
    return object;
  }
  static std::vector<ObjectPtr> collect(const Value& value) {
    std::vector<ObjectPtr> children;
    std::vector<Value> files;
    Object::collectDirtyChildren(value, children, files);
    return children;
  }
};

TEST_F(ObjectGraphTest, ChildrenComeAfterEverythingTheyReferTo) {
  auto leaf = fresh(), middle = fresh(), top = fresh();
  middle->setObject(Value(leaf), "child");
  top->setObject(Value::dictionary({{"list", Value::array({Value(middle)})}}), "nested");
  auto clean = saved("c1");
  clean->setObject(Value(top), "holder");  // dirty itself now, and a saved link in the chain

  EXPECT_EQ(collect(Value(clean)), (std::vector<ObjectPtr>{leaf, middle, top, clean}));
  EXPECT_TRUE(collect(Value(saved("c2"))).empty());
}

TEST_F(ObjectGraphTest, NewObjectsPointingAtEachOtherAreACircularDependency) {
  auto a = fresh(), b = fresh();
  a->setObject(Value(b), "other");
  b->setObject(Value::array({Value(a)}), "others");
  EXPECT_EQ(raisedMessage<platform::InternalInconsistencyException>([&] { collect(Value(a)); }),
            "Found a circular dependency when saving.");

  // A saved object in the loop breaks the chain: that graph can be ordered.
  auto c = fresh();
  auto s = saved("s1");
  c->setObject(Value(s), "other");
  s->setObject(Value(c), "other");
  EXPECT_NO_THROW(collect(Value(c)));
  // Objects that hold each other are never freed otherwise.
  for (const auto& object : {a, b, c, s}) {
    object->removeObjectForKey("other");
    object->removeObjectForKey("others");
  }
}

TEST_F(ObjectGraphTest, ReadinessWaitsForEveryUnsavedPointer) {
  auto a = fresh(), b = fresh();
  a->setObject(Value::array({Value(b), Value(saved("s1"))}), "list");
  std::optional<platform::Error> error;
  EXPECT_FALSE(a->canBeSerializedAfterSaving({}, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kErrorMissingObjectId);
  EXPECT_EQ(error->message(), "Pointer to an unsaved object.");
  EXPECT_TRUE(a->canBeSerializedAfterSaving({b}));
}

TEST_F(ObjectGraphTest, AnAccessListWaitingForTheCurrentUserWaitsForItsSignUp) {
  auto user = Object::objectWithClassName("Member");
  installCurrentUserHooks({nullptr, [user] { return user; }, nullptr, nullptr,
                           [](const AccessListBase&) { return true; }});
  auto a = fresh();
  a->setACL(std::make_shared<testing::TestACL>(Value::dictionary({})));
  std::optional<platform::Error> error;
  EXPECT_FALSE(a->canBeSerializedAfterSaving({}, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kErrorACLUserNotSignedUp);
  EXPECT_TRUE(a->canBeSerializedAfterSaving({user}));
  // The list leads the collection to the user, which is saved first.
  EXPECT_EQ(collect(Value(a)), (std::vector<ObjectPtr>{user, a}));
  installCurrentUserHooks({});
}

TEST_F(ObjectGraphTest, EnqueueForObjectsWaitsForEveryObjectsEarlierWork) {
  auto a = fresh(), b = fresh();
  std::mutex mutex;
  std::vector<std::string> order;
  auto note = [&](std::string what) {
    std::lock_guard lock(mutex);
    order.push_back(std::move(what));
  };
  TaskCompletionSource<void> earlier;
  b->taskQueue().enqueue([&](const Task<void>&) {
    return earlier.task().continueWith([&](const Task<void>&) { note("earlier"); });
  });
  // The same object twice must not lock its queue twice.
  Task<bool> both = Object::enqueueForObjects<bool>({a, b, a}, [&](const Task<void>& awaited) {
    return awaited.continueWith([&](const Task<void>&) {
      note("batch");
      return true;
    });
  });
  Task<void> after = a->taskQueue().enqueue(
      [&](const Task<void>& awaited) { return awaited.continueWith([&](const Task<void>&) { note("after"); }); });
  earlier.setResult();
  EXPECT_TRUE(both.waitForResult());
  after.waitForResult();
  EXPECT_EQ(order, (std::vector<std::string>{"earlier", "batch", "after"}));
}

}  // namespace
}  // namespace backend
