// A chain of continuation hops on the background pool, side by side with the
// same number of bare posts chained on the same executor.

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "backend/task.hpp"

namespace {

constexpr int kHops = 100000;

struct Done {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  void signal() {
    std::lock_guard lock(mutex);
    done = true;
    cv.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return done; });
  }
};

// Each piece of work posts the next one: the peer of a continuation hop.
void postChain(int remaining, Done& done) {
  if (remaining == 0) {
    done.signal();
    return;
  }
  platform::backgroundQueue().post([remaining, &done] { postChain(remaining - 1, done); });
}

void BM_BarePostChain(benchmark::State& state) {
  for (auto _ : state) {
    Done done;
    postChain(kHops, done);
    done.wait();
  }
  state.counters["hops_per_s"] = benchmark::Counter(double(kHops) * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_ContinueWithChain(benchmark::State& state) {
  for (auto _ : state) {
    backend::TaskCompletionSource<int> start;
    backend::Task<int> task = start.task();
    for (int i = 0; i < kHops; ++i) task = task.continueWith([](const backend::Task<int>& t) { return t.result() + 1; });
    start.setResult(0);
    benchmark::DoNotOptimize(task.waitForResult());
  }
  state.counters["hops_per_s"] = benchmark::Counter(double(kHops) * state.iterations(), benchmark::Counter::kIsRate);
}

// A continuation registered as each previous hop finishes (the shape of
// chained asynchronous work), rather than all up front.
backend::Task<int> hopChain(backend::Task<int> task, int remaining) {
  if (remaining == 0) return task;
  return task.continueWith([remaining](const backend::Task<int>& t) {
    return hopChain(backend::Task<int>::taskWithResult(t.result() + 1), remaining - 1);
  });
}

void BM_ContinueWithNestedChain(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(hopChain(backend::Task<int>::taskWithResult(0), kHops).waitForResult());
  state.counters["hops_per_s"] = benchmark::Counter(double(kHops) * state.iterations(), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_BarePostChain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ContinueWithChain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ContinueWithNestedChain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
