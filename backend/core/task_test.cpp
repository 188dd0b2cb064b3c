#include "backend/task.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "backend/internal/task_queue.hpp"
#include "platform/log.hpp"
#include "platform/run_loop.hpp"
#include "platform/value.hpp"
#include "support/manual_clock.hpp"

namespace backend {
namespace {

using namespace std::chrono_literals;
using platform::RunLoop;
using platform::Value;

Error sampleError(int code = 42) { return Error("Backend", code, Value::dictionary({{"error", "boom"}})); }

TEST(TaskCompletion, CompletesExactlyOnceWithTheFirstOutcome) {
  TaskCompletionSource<int> source;
  EXPECT_TRUE(source.trySetResult(1));
  EXPECT_FALSE(source.trySetResult(2));
  EXPECT_FALSE(source.trySetError(sampleError()));
  EXPECT_FALSE(source.trySetCancelled());
  EXPECT_EQ(source.task().result(), 1);
  EXPECT_FALSE(source.task().error());
  EXPECT_FALSE(source.task().isCancelled());
}

TEST(TaskCompletion, RacingCompletersHaveOneWinnerWhoseOutcomeStays) {
  for (int round = 0; round < 50; ++round) {
    TaskCompletionSource<int> source;
    std::atomic<int> winners{0};
    std::atomic<int> winner{-1};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        if (source.trySetResult(t)) {
          ++winners;
          winner = t;
        }
      });
    }
    for (auto& thread : threads) thread.join();
    ASSERT_EQ(winners.load(), 1);
    EXPECT_EQ(source.task().result(), winner.load());
  }
}

TEST(TaskCompletion, PartiesAreToldInRegistrationOrder) {
  TaskCompletionSource<void> source;
  std::vector<int> told;
  for (int i = 0; i < 5; ++i) AnyTask(source.task()).whenCompleted([&told, i] { told.push_back(i); });
  source.setResult();
  // Registered after completion: told at once, after the others.
  AnyTask(source.task()).whenCompleted([&told] { told.push_back(5); });
  EXPECT_EQ(told, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(TaskCompletion, SettersOnACompletedTaskRaiseWithTheirMessages) {
  TaskCompletionSource<int> source;
  source.setResult(1);
  auto reasonOf = [](auto&& call) {
    try {
      call();
    } catch (const platform::InternalInconsistencyException& e) {
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  EXPECT_EQ(reasonOf([&] { source.setResult(2); }), "Cannot set the result on a completed task.");
  EXPECT_EQ(reasonOf([&] { source.setError(sampleError()); }), "Cannot set the error on a completed task.");
  EXPECT_EQ(reasonOf([&] { source.setException(std::make_exception_ptr(std::runtime_error("x"))); }),
            "Cannot set the exception on a completed task.");
  EXPECT_EQ(reasonOf([&] { source.cancel(); }), "Cannot cancel a completed task.");
  EXPECT_EQ(source.task().result(), 1);
}

TEST(TaskContinuation, NeverRunsInTheCallersFrameEvenWhenAlreadyCompleted) {
  auto task = Task<int>::taskWithResult(5);
  auto caller = std::this_thread::get_id();
  std::thread::id ranOn;
  auto next = task.continueWith([&](const Task<int>& t) {
    ranOn = std::this_thread::get_id();
    return t.result() * 2;
  });
  EXPECT_EQ(next.waitForResult(), 10);
  EXPECT_NE(ranOn, caller);
  EXPECT_TRUE(platform::backgroundQueue().runsOnCurrentThread() == false);
}

TEST(TaskContinuation, AdoptsTheOutcomeOfAReturnedTask) {
  auto base = Task<void>::taskWithResult();
  auto cancelled = base.continueWith([](const Task<void>&) { return Task<int>::cancelledTask(); });
  auto failed = base.continueWith([](const Task<void>&) { return Task<int>::taskWithError(sampleError(7)); });
  TaskCompletionSource<std::string> later;
  auto adopted = base.continueWith([&](const Task<void>&) { return later.task(); });
  cancelled.waitUntilFinished();
  failed.waitUntilFinished();
  EXPECT_TRUE(cancelled.isCancelled());
  EXPECT_EQ(failed.error()->code, 7);
  EXPECT_FALSE(adopted.isCompleted());
  later.setResult("done");
  EXPECT_EQ(adopted.waitForResult(), "done");
}

TEST(TaskContinuation, CapturesAnExceptionAndRaisesItInTheWaiter) {
  auto task = Task<void>::taskWithResult().continueWith([](const Task<void>&) -> int {
    throw platform::InvalidArgumentException("bad argument");
  });
  EXPECT_THROW(task.waitForResult(), platform::InvalidArgumentException);
  EXPECT_TRUE(task.isFaulted());
}

TEST(TaskContinuation, OnSuccessPassesFailuresThroughUnchanged) {
  std::atomic<int> calls{0};
  auto block = [&](const Task<int>& t) {
    ++calls;
    return t.result() + 1;
  };
  auto fromError = Task<int>::taskWithError(sampleError(9)).onSuccess(block);
  auto fromCancel = Task<int>::cancelledTask().onSuccess(block);
  auto fromException =
      Task<int>::taskWithException(std::make_exception_ptr(std::runtime_error("x"))).onSuccess(block);
  auto fromSuccess = Task<int>::taskWithResult(1).onSuccess(block);
  EXPECT_EQ(fromSuccess.waitForResult(), 2);
  fromError.waitUntilFinished();
  fromCancel.waitUntilFinished();
  fromException.waitUntilFinished();
  EXPECT_EQ(fromError.error()->code, 9);
  EXPECT_TRUE(fromCancel.isCancelled());
  EXPECT_TRUE(fromException.exception());
  EXPECT_EQ(calls.load(), 1);
}

TEST(TaskContinuation, ContinuationsRegisteredFromManyThreadsAllRunOnce) {
  TaskCompletionSource<int> source;
  std::atomic<int> runs{0};
  std::vector<Task<void>> continuations(400);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; i < 400; i += 4) {
        continuations[i] = source.task().continueWith([&](const Task<int>&) { ++runs; });
        if (i == 200) source.trySetResult(1);  // completion races with registration
      }
    });
  }
  for (auto& thread : threads) thread.join();
  source.trySetResult(1);
  for (auto& c : continuations) c.waitUntilFinished();
  EXPECT_EQ(runs.load(), 400);
}

TEST(TaskWaiting, WaitForResultOnCancelledLeavesTheErrorUntouched) {
  std::optional<Error> error = sampleError(1);
  EXPECT_EQ(Task<int>::cancelledTask().waitForResult(&error), 0);
  EXPECT_EQ(error->code, 1);
  std::optional<Error> failure;
  Task<int>::taskWithError(sampleError(3)).waitForResult(&failure);
  EXPECT_EQ(failure->code, 3);
}

TEST(TaskWaiting, WaitOnTheMainThreadWarnsOncePerCallAndStillWaits) {
  ASSERT_TRUE(platform::isMainThread());
  platform::LogCapture capture;
  auto task = delay(20);
  task.waitUntilFinished();
  EXPECT_TRUE(task.isCompleted());
  int warnings = 0;
  for (const auto& line : capture.lines())
    if (line.find("Break on warnBackendOperationOnMainThread() to debug.") != std::string::npos) ++warnings;
  EXPECT_EQ(warnings, 1);
}

TEST(TaskWaiting, WaiterOnAnotherThreadWakesAtCompletion) {
  for (int round = 0; round < 200; ++round) {
    TaskCompletionSource<int> source;
    std::thread waiter([&] { EXPECT_EQ(source.task().waitForResult(), round); });
    source.setResult(round);
    waiter.join();
  }
}

TEST(TaskWhenAll, SucceedsWhateverTheMembersEndedWith) {
  EXPECT_TRUE(whenAll({}).isCompleted());
  std::vector<TaskCompletionSource<int>> sources(8);
  std::vector<AnyTask> members;
  for (auto& s : sources) members.emplace_back(s.task());
  auto all = whenAll(members);
  std::vector<std::thread> completers;
  for (int i = 0; i < 8; ++i) {
    completers.emplace_back([&, i] {
      if (i % 3 == 0) sources[i].setError(sampleError());
      else if (i % 3 == 1) sources[i].cancel();
      else sources[i].setResult(i);
    });
  }
  for (auto& t : completers) t.join();
  all.waitUntilFinished();
  EXPECT_FALSE(all.isFaulted());
  EXPECT_FALSE(all.isCancelled());
}

TEST(TaskDelay, CompletesOnceItsTimeHasPassedOnTheClock) {
  test_support::ManualClock clock;
  auto delayed = delay(30);
  clock.advance(29ms);
  EXPECT_FALSE(delayed.isCompleted());
  clock.advance(1ms);
  delayed.waitUntilFinished();
  EXPECT_TRUE(delayed.isCompleted());
  EXPECT_FALSE(delayed.isFaulted());
}

TEST(TaskMainThreadCallback, DeliversOnTheMainQueue) {
  bool called = false;
  auto done = Task<Value>::taskWithResult(Value("x")).thenCallBackOnMainThreadAsync(
      [&](const Value& result, const std::optional<Error>& error) {
        EXPECT_TRUE(platform::isMainThread());
        EXPECT_EQ(result, Value("x"));
        EXPECT_FALSE(error);
        called = true;
      });
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return done.isCompleted(); }, 30s));
  EXPECT_TRUE(called);
}

TEST(TaskMainThreadCallback, CancelledSkipsTheBlockButCompletes) {
  bool called = false;
  auto done = Task<int>::cancelledTask().thenCallBackOnMainThreadAsync(
      [&](const int&, const std::optional<Error>&) { called = true; });
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return done.isCompleted(); }, 30s));
  EXPECT_FALSE(called);
}

TEST(TaskMainThreadCallback, ExceptionIsRaisedOnTheMainThread) {
  auto failed = Task<int>::taskWithException(std::make_exception_ptr(std::runtime_error("main")));
  auto done = failed.thenCallBackOnMainThreadAsync([](const int&, const std::optional<Error>&) {
    ADD_FAILURE() << "block must not run";
  });
  EXPECT_THROW(RunLoop::main().runUntil([&] { return done.isCompleted(); }, 30s), std::runtime_error);
  // The returned task ends as the receiver did, once the delivery is over.
  done.waitUntilFinished();
  EXPECT_TRUE(done.exception());
}

TEST(TaskMainThreadCallback, TheReturnedTaskKeepsTheReceiversOutcome) {
  auto answered = Task<int>::taskWithResult(7);
  EXPECT_EQ(answered.thenCallBackOnMainThreadAsync(nullptr).waitForResult(), 7);
  EXPECT_EQ(answered.thenCallBackOnMainThreadWithBoolValueAsync(nullptr).waitForResult(), 7);
  bool called = false;
  auto failed = Task<int>::taskWithError(sampleError());
  auto done = failed.thenCallBackOnMainThreadAsync([&](const int&, const std::optional<Error>&) { called = true; });
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return done.isCompleted(); }, 30s));
  EXPECT_TRUE(called);
  ASSERT_TRUE(done.error());
  EXPECT_EQ(done.error()->code, 42);
}

TEST(TaskMainThreadCallback, BoolFormConvertsNothingToFalse) {
  std::optional<bool> seen;
  auto done = Task<Value>::taskWithResult(Value()).thenCallBackOnMainThreadWithBoolValueAsync(
      [&](bool value, const std::optional<Error>&) { seen = value; });
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return done.isCompleted(); }, 30s));
  EXPECT_EQ(seen, false);
}

TEST(TaskLifetime, ABlocksCapturesGoOnceItRanOrCanNeverRun) {
  auto held = std::make_shared<int>(0);
  // Ran: the continuation's task is still held, its block's captures are not
  // (a block may hold the very task it produces).
  auto ran = Task<int>::taskWithResult(1).continueWith([held](const Task<int>& t) { return t.result(); });
  EXPECT_EQ(ran.waitForResult(), 1);
  // Never to run: the antecedent is dropped while pending.
  auto orphan = TaskCompletionSource<int>().task().continueWith([held](const Task<int>&) {});
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_FALSE(orphan.isCompleted());
}

TEST(TaskLifetime, DroppingALongPendingChainDoesNotOverflowTheStack) {
  std::optional<TaskCompletionSource<int>> source(std::in_place);
  auto task = source->task();
  for (int i = 0; i < 200000; ++i) task = task.continueWith([](const Task<int>& t) { return t.result(); });
  task = Task<int>();
  // The head holds the whole chain through its list; dropping it unwinds
  // 200,000 states.
  source.reset();
  SUCCEED();
}

TEST(TaskWaiting, ManyWaitersOnSeveralThreadsAllWake) {
  TaskCompletionSource<int> source;
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 6; ++i) {
    waiters.emplace_back([&] {
      if (source.task().waitForResult() == 7) ++woken;
    });
  }
  source.setResult(7);
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(woken.load(), 6);
}

// The last continuation of a hop takes over the reference the hop's queue
// held; the other continuations must still hold their own.
TEST(TaskChains, EveryContinuationOfAHopKeepsItAliveAndSeesItsResult) {
  for (int round = 0; round < 200; ++round) {
    TaskCompletionSource<int> start;
    std::vector<Task<int>> readers;
    {
      auto hop = start.task().continueWith([](const Task<int>& t) { return t.result() + 1; });
      for (int i = 0; i < 4; ++i) readers.push_back(hop.continueWith([](const Task<int>& t) { return t.result() * 10; }));
    }
    start.setResult(round);
    for (const auto& reader : readers) EXPECT_EQ(reader.waitForResult(), (round + 1) * 10);
  }
}

// Runs work at once in the caller's frame, as if another thread had taken it
// the moment it was posted.
class ImmediateExecutor final : public platform::Executor {
 public:
  void post(platform::Work work) override { work(); }
  bool runsOnCurrentThread() const override { return true; }
};

// A hop's first continuation may run and let the hop go before the hop has
// told the others; they must not find it gone.
TEST(TaskChains, AContinuationRunningAtOnceElsewhereLeavesTheHopToTheOthers) {
  ImmediateExecutor elsewhere;
  TaskCompletionSource<int> start;
  Task<int> first, second;
  {
    auto hop = start.task().continueWith([](const Task<int>& t) { return t.result() + 1; });
    first = hop.continueWith(elsewhere, [](const Task<int>& t) { return t.result() * 10; });
    second = hop.continueWith([](const Task<int>& t) { return t.result() * 100; });
  }
  start.setResult(1);
  EXPECT_EQ(first.waitForResult(), 20);
  EXPECT_EQ(second.waitForResult(), 200);
}

TEST(TaskChains, LongChainsNeitherRecurseNorLoseHops) {
  auto task = Task<int>::taskWithResult(0);
  for (int i = 0; i < 20000; ++i) task = task.continueWith([](const Task<int>& t) { return t.result() + 1; });
  EXPECT_EQ(task.waitForResult(), 20000);
}

}  // namespace
}  // namespace backend

namespace backend {
namespace {

// Each continuation returns the next continuation's task: completing the
// innermost completes 100,000 adopting tasks, which must not recurse.
Task<int> nestedChain(Task<int> task, int remaining) {
  if (remaining == 0) return task;
  return task.continueWith([remaining](const Task<int>& t) {
    return nestedChain(Task<int>::taskWithResult(t.result() + 1), remaining - 1);
  });
}

TEST(TaskChains, DeeplyNestedAdoptionDoesNotOverflowTheStack) {
  EXPECT_EQ(nestedChain(Task<int>::taskWithResult(0), 100000).waitForResult(), 100000);
}

TEST(TaskQueue, LongQueueCompletingAtOnceDoesNotOverflowTheStack) {
  TaskQueue queue;
  TaskCompletionSource<void> gate;
  Task<void> last;
  for (int i = 0; i < 100000; ++i) {
    last = queue.enqueue([&](const Task<void>&) { return gate.task(); });
  }
  gate.setResult();
  last.waitUntilFinished();
  SUCCEED();
}

}  // namespace
}  // namespace backend
