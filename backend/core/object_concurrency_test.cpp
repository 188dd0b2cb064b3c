// Several threads on shared objects: run under TSan to catch races and
// lock-order inversions.

#include <gtest/gtest.h>

#include <thread>

#include "backend/object.hpp"
#include "support/backend/object_fixture.hpp"

namespace backend {
namespace {

class ObjectConcurrencyTest : public testing::BackendTest {};

TEST_F(ObjectConcurrencyTest, EditsSavesAndReadsFromSeveralThreadsLoseNothing) {
  auto object = Object::objectWithClassName("Counter");
  constexpr int kThreads = 4, kRounds = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string own = "field" + std::to_string(t);
      for (int i = 0; i < kRounds; ++i) {
        object->incrementKey("shared");
        object->setObject(Value(i), own);
        object->addObject(Value(i), "log" + std::to_string(t));
        (void)object->isDirty();
        (void)object->description();
      }
    });
  }
  // A saver that keeps failing and succeeding saves while the edits go on.
  threads.emplace_back([&] {
    for (int i = 0; i < kRounds / 4; ++i) {
      object->startSave();
      object->mergeAfterSave(i % 2 ? Value() : Value::dictionary({{"data", Value::emptyDictionary()}}));
    }
  });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(object->objectForKey("shared"), Value(kThreads * kRounds));
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(object->objectForKey("log" + std::to_string(t)).array()->size(), std::size_t(kRounds));
  }
  object->rebuildEstimatedData();
  EXPECT_EQ(object->objectForKey("shared"), Value(kThreads * kRounds));
}

TEST_F(ObjectConcurrencyTest, ObjectsThatHoldEachOtherCanBeCheckedFromBothSidesAtOnce) {
  auto a = Object::objectWithClassName("Node"), b = Object::objectWithClassName("Node");
  a->setObject(Value::array({Value(b)}), "peers");
  b->setObject(Value::array({Value(a)}), "peers");
  a->setObject(Value(b), "next");
  b->setObject(Value(a), "next");
  std::vector<std::thread> threads;
  for (auto [self, other] : {std::pair{a, b}, std::pair{b, a}}) {
    threads.emplace_back([self = self, other = other] {
      for (int i = 0; i < 200; ++i) {
        (void)self->isDirty();
        self->checkForChangesToMutableContainers();
        (void)self->description();
        other->getOrCreateLocalId();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_TRUE(a->isDirty());
  // Break the cycle (fields and the snapshot of the old array) so both are freed.
  a->removeObjectForKey("next");
  a->removeObjectForKey("peers");
  a->checkForChangesToMutableContainers();
}

}  // namespace
}  // namespace backend
