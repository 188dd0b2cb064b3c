// Continuation hops on the background pool, side by side with the same
// number of bare posts chained on the same executor. Times are process CPU
// time (all threads), so other work on a shared machine does not count.

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "backend/task.hpp"
#include "ratio_reporter.hpp"

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

void countHops(benchmark::State& state) {
  state.counters["hops_per_s"] = benchmark::Counter(double(kHops) * state.iterations(), benchmark::Counter::kIsRate);
}

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
  countHops(state);
}

backend::Task<int> registerChain(const backend::Task<int>& first) {
  backend::Task<int> task = first;
  for (int i = 0; i < kHops; ++i) task = task.continueWith([](const backend::Task<int>& t) { return t.result() + 1; });
  return task;
}

// Only the hops: the chain is registered before the clock runs.
void BM_ContinueWithHops(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    backend::TaskCompletionSource<int> start;
    backend::Task<int> last = registerChain(start.task());
    state.ResumeTiming();
    start.setResult(0);
    benchmark::DoNotOptimize(last.waitForResult());
  }
  countHops(state);
}

// Registering the whole chain, then running it.
void BM_ContinueWithChain(benchmark::State& state) {
  for (auto _ : state) {
    backend::TaskCompletionSource<int> start;
    backend::Task<int> last = registerChain(start.task());
    start.setResult(0);
    benchmark::DoNotOptimize(last.waitForResult());
  }
  countHops(state);
}

// A continuation registered as each previous hop finishes (the shape of
// chained asynchronous work), each adopting the task of the next.
backend::Task<int> hopChain(backend::Task<int> task, int remaining) {
  if (remaining == 0) return task;
  return task.continueWith([remaining](const backend::Task<int>& t) {
    return hopChain(backend::Task<int>::taskWithResult(t.result() + 1), remaining - 1);
  });
}

void BM_ContinueWithNestedChain(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(hopChain(backend::Task<int>::taskWithResult(0), kHops).waitForResult());
  countHops(state);
}

}  // namespace

BENCHMARK(BM_BarePostChain)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ContinueWithHops)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ContinueWithChain)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
BENCHMARK(BM_ContinueWithNestedChain)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratios (process CPU time over the peer's; target for a hop <= 2)\n");
  bench::printRatio(reporter, "BM_ContinueWithHops/process_time", "BM_BarePostChain/process_time", "hop:");
  bench::printRatio(reporter, "BM_ContinueWithChain/process_time", "BM_BarePostChain/process_time",
                    "registering and running:");
  bench::printRatio(reporter, "BM_ContinueWithNestedChain/process_time", "BM_BarePostChain/process_time",
                    "nested adoption:");
  using Aim = bench::ReportRow::Aim;
  bench::reportTimeRatio(reporter, "task hop on the pool (CPU, per 100k hops)", "BM_ContinueWithHops/process_time",
                         "BM_BarePostChain/process_time", Aim::atMost, 1.5);
  bench::reportTimeRatio(reporter, "task hop, nested adoption (CPU, per 100k hops)",
                         "BM_ContinueWithNestedChain/process_time", "BM_BarePostChain/process_time", Aim::atMost, 3.0);
  bench::reportTimeRatio(reporter, "task chain registered and run (CPU, per 100k hops)",
                         "BM_ContinueWithChain/process_time", "BM_BarePostChain/process_time", Aim::none, 0);
  benchmark::Shutdown();
  return 0;
}
