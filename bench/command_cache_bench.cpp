// The offline command queue, in wall time (the work is disk syncs and
// loopback round trips, not CPU).
// 1. How the cost grows, at each size in VV_BENCH_COMMANDS (comma-separated;
//    default 1000,10000,100000): storing N commands while offline against
//    writing the same JSON texts as files atomically with plain POSIX calls
//    (temporary file, fsync, rename, directory fsync), and draining them
//    against the in-process devserver against sending the same commands one
//    after another with the raw network runner, no queue. Each store size
//    writes 100,000 commands in all, N at a time into fresh folders, so the
//    small sizes are measured as long as the large one. These folders live
//    in memory (/dev/shm where there is one): a sync on this disk costs some
//    3 ms, which would take hours at 100,000 and bury any growth in the
//    queue's own work under the disk's.
// 2. At its 10 MiB cap, on disk and in memory: stores into a queue full to
//    its cap (each deletes the oldest command), against plain atomic file
//    writes that also delete the oldest file first — the disk work any capped
//    queue of files does, so the ratio is what the queue adds at the cap. (Against the same
//    queue below its cap the ratio would mostly be the disk's: on this disk
//    an unlink before a synced write makes the plain write some 1.4 times
//    slower too; that row is shown without an aim.) The three alternate in
//    rounds, so a shifting machine load falls on each alike.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "backend/internal/internal_utils.hpp"
#include "backend/net/backend.hpp"
#include "backend/net/command_cache.hpp"
#include "backend/net/command_runners.hpp"
#include "devserver/server.hpp"
#include "platform/sandbox.hpp"
#include "ratio_reporter.hpp"
#include "settled_task.hpp"
#include "support/scratch_directory.hpp"

namespace {

namespace fs = std::filesystem;
using backend::net::Command;
using backend::net::CommandCache;
using backend::net::CommandPtr;
using platform::Value;

std::vector<int> commandCounts() {
  const char* text = std::getenv("VV_BENCH_COMMANDS");
  std::vector<int> counts;
  for (const char* at = text; at && *at;) {
    char* end = nullptr;
    long count = std::strtol(at, &end, 10);
    if (end == at) break;
    if (count > 0 && count <= 10000000) counts.push_back(static_cast<int>(count));
    at = *end == ',' ? end + 1 : end;
  }
  if (counts.empty()) counts = {1000, 10000, 100000};
  return counts;
}

CommandPtr note(int n) {
  auto data = Value::dictionary({{"n", n}, {"title", "Stormen nærmer seg kysten"}, {"views", n * 7}});
  return Command::commandWithServerOperation("create", Value::dictionary({{"classname", "BenchNote"}, {"data", data}}),
                                             std::nullopt);
}

// One sandbox and one devserver for the whole run.
struct Environment {
  Environment() {
    platform::Sandbox::setRoot(root);
    devserver::Server::Options options;
    options.applications.emplace_back("BenchApp", "bench-key");
    server = std::make_unique<devserver::Server>(options);
    server->start();
    backend::InternalUtils::setServer(server->baseUrl());
    backend::net::Backend::setApplicationId("BenchApp", "bench-key");
  }
  ~Environment() {
    server->stop();
    std::error_code ignored;
    if (memoryRoot != root) fs::remove_all(memoryRoot, ignored);
  }
  static fs::path makeMemoryRoot(const fs::path& fallback) {
    std::string pattern = "/dev/shm/vv-queue-bench-XXXXXX";
    if (!fs::is_directory("/dev/shm") || !::mkdtemp(pattern.data())) return fallback;
    return pattern;
  }
  // A new folder on disk, or in memory where there is some.
  fs::path freshDirectory(const std::string& name, bool inMemory = false) {
    auto path = (inMemory ? memoryRoot : root) / (name + std::to_string(++runs));
    fs::create_directories(path);
    return path;
  }
  test_support::ScratchDirectory scratch;
  const std::filesystem::path root = scratch.path();
  const std::filesystem::path memoryRoot = makeMemoryRoot(root);
  std::unique_ptr<devserver::Server> server;
  int runs = 0;
};

Environment& environment() {
  static Environment instance;
  return instance;
}

using bench::settled;

void setOnline(platform::ManualReachabilitySource& reachability, bool online) {
  reachability.setDefaultFlags(online ? platform::ReachabilityFlags(platform::ReachabilityFlag::Reachable)
                                      : platform::ReachabilityFlags(platform::ReachabilityFlag::ConnectionRequired));
}

// Each size stores this many commands in all, a fresh folder at a time, so
// a small size is measured as long as a large one and a passing load
// weighs on each alike.
constexpr int kStoredPerSize = 100000;

int roundsFor(int count) { return std::max(1, kStoredPerSize / count); }

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Time per round of `count` commands: stored into a fresh queue while
// offline, until all are on disk.
void storeInQueue(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<CommandPtr> commands;
  for (int n = 0; n < count; ++n) commands.push_back(note(n));
  platform::ManualReachabilitySource reachability;
  setOnline(reachability, false);
  for (auto _ : state) {
    double seconds = 0;
    for (int round = 0; round < roundsFor(count); ++round) {
      const fs::path directory = environment().freshDirectory("store", true);
      {
        CommandCache queue(directory, reachability);
        queue.setMaxCacheSizeBytes(std::uintmax_t{1} << 32);  // every size kept, none dropped for room
        const auto start = std::chrono::steady_clock::now();
        for (const auto& command : commands) queue.runEventuallyAsync(command, nullptr);
        queue.waitForStores();
        seconds += secondsSince(start);
        if (queue.pendingCount() != static_cast<std::size_t>(count)) state.SkipWithError("commands missing");
      }
      fs::remove_all(directory);
    }
    state.SetIterationTime(seconds / roundsFor(count));
  }
}

bool writeAtomically(const fs::path& directory, int n, const std::string& text) {
  char name[64];
  std::snprintf(name, sizeof name, "cmd_%08d", n);
  auto path = directory / name;
  auto temporary = directory / ("." + std::string(name) + ".tmp");
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
  int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ok = ok && dir >= 0 && ::fsync(dir) == 0;
  if (dir >= 0) ::close(dir);
  return ok;
}

// Time per round of `count` texts written atomically into a fresh folder.
void storePlainFiles(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<std::string> texts;
  for (int n = 0; n < count; ++n) texts.push_back(note(n)->json());
  for (auto _ : state) {
    double seconds = 0;
    for (int round = 0; round < roundsFor(count); ++round) {
      const fs::path directory = environment().freshDirectory("plain", true);
      const auto start = std::chrono::steady_clock::now();
      for (int n = 0; n < count; ++n) {
        if (!writeAtomically(directory, n, texts[static_cast<std::size_t>(n)])) state.SkipWithError("write failed");
      }
      seconds += secondsSince(start);
      fs::remove_all(directory);
    }
    state.SetIterationTime(seconds / roundsFor(count));
  }
}

void drainQueue(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  platform::ManualReachabilitySource reachability;
  setOnline(reachability, false);
  // Drained, the folder is empty again.
  CommandCache queue(environment().freshDirectory("drain", true), reachability);
  queue.setMaxCacheSizeBytes(std::uintmax_t{1} << 32);
  std::vector<backend::Task<backend::net::CommandResult>> tasks;
  for (int n = 0; n < count; ++n) tasks.push_back(queue.runEventuallyAsync(note(n), nullptr));
  queue.waitForStores();
  for (auto _ : state) {
    setOnline(reachability, true);
    for (auto& task : tasks) settled(task);
  }
  for (auto& task : tasks) {
    if (task.error()) state.SkipWithError("a command failed");
  }
}

void sendWithRawRunner(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<CommandPtr> commands;
  for (int n = 0; n < count; ++n) commands.push_back(note(n));
  for (auto _ : state) {
    for (const auto& command : commands) {
      if (settled(backend::net::NetworkCommandRunner::runCommandAsync(command)).error()) {
        state.SkipWithError("a command failed");
      }
    }
  }
}

// A command whose stored text is some 8 KiB, so 1,280 of them fill the cap.
CommandPtr largeNote(int n) {
  auto data = Value::dictionary({{"n", n}, {"text", std::string(8000, 'v')}});
  return Command::commandWithServerOperation("create", Value::dictionary({{"classname", "BenchNote"}, {"data", data}}),
                                             std::nullopt);
}

// Stores `count` commands from `first` and waits until they are on disk:
// the wall time it took, in seconds. The commands are made beforehand, as
// the plain writes get their texts ready-made.
double timedStores(CommandCache& queue, int first, int count) {
  std::vector<CommandPtr> commands;
  for (int n = first; n < first + count; ++n) commands.push_back(largeNote(n));
  const auto start = std::chrono::steady_clock::now();
  for (const auto& command : commands) queue.runEventuallyAsync(command, nullptr);
  queue.waitForStores();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Plain atomic writes of `count` texts from `first` into a folder of files
// named by number, each deleting the file `keep` numbers older first: the
// wall time it took, in seconds.
double timedPlainEvictingWrites(const fs::path& directory, const std::string& text, int first, int count, int keep) {
  const auto start = std::chrono::steady_clock::now();
  for (int n = first; n < first + count; ++n) {
    char name[64];
    std::snprintf(name, sizeof name, "cmd_%08d", n - keep);
    ::unlink((directory / name).c_str());
    writeAtomically(directory, n, text);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Argument 0: on disk; 1: in memory, where the queue's own work is not
// hidden behind the disk's syncs.
void storeAtCap(benchmark::State& state) {
  constexpr int kRounds = 10;
  constexpr int kStoresPerRound = 40;  // 400 in all: 3.2 MiB, below the cap
  const bool inMemory = state.range(0) == 1;
  platform::ManualReachabilitySource reachability;
  setOnline(reachability, false);
  CommandCache full(environment().freshDirectory("full", inMemory), reachability);
  CommandCache below(environment().freshDirectory("below", inMemory), reachability);
  const std::string text = largeNote(0)->json();
  const int fill = int(CommandCache::kDefaultMaxCacheSizeBytes / text.size()) + 1;
  timedStores(full, 0, fill);
  const std::size_t kept = full.pendingCount();
  const fs::path plain = environment().freshDirectory("plain-capped", inMemory);
  timedPlainEvictingWrites(plain, text, 0, int(kept), int(kept));
  double atCap = 0;
  double belowCap = 0;
  double plainAtCap = 0;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      const int first = round * kStoresPerRound;
      atCap += timedStores(full, fill + first, kStoresPerRound);
      belowCap += timedStores(below, first, kStoresPerRound);
      plainAtCap += timedPlainEvictingWrites(plain, text, int(kept) + first, kStoresPerRound, int(kept));
    }
  }
  const int stores = kRounds * kStoresPerRound;
  if (full.pendingCount() != kept || below.pendingCount() != std::size_t(stores)) {
    state.SkipWithError("a store was lost or the cap not kept");
  }
  state.counters["at_cap_us"] = atCap * 1e6 / stores;
  state.counters["below_cap_us"] = belowCap * 1e6 / stores;
  state.counters["plain_at_cap_us"] = plainAtCap * 1e6 / stores;
}

bool isStore(const std::string& benchmark) { return benchmark.rfind("store", 0) == 0; }

std::string runName(const std::string& benchmark, int count) {
  return benchmark + "/" + std::to_string(count) + "/iterations:1/" + (isStore(benchmark) ? "manual_time" : "real_time");
}

// Wall time per command in microseconds.
double microsPerCommand(const bench::RecordingReporter& reporter, const std::string& benchmark, int count) {
  return bench::micros(reporter, runName(benchmark, count), true) / count;
}

void reportScaleRows(const bench::RecordingReporter& reporter, const std::vector<int>& counts) {
  using Aim = bench::ReportRow::Aim;
  for (int count : counts) {
    const std::string size = std::to_string(count);
    const double store = microsPerCommand(reporter, "storeInQueue", count);
    const double plain = microsPerCommand(reporter, "storePlainFiles", count);
    bench::reportRow({"offline queue store of " + size + " commands (per command, vs plain atomic files)", store, plain,
                      "us", store / plain, Aim::none, 0});
    const double drain = microsPerCommand(reporter, "drainQueue", count);
    const double raw = microsPerCommand(reporter, "sendWithRawRunner", count);
    bench::reportRow({"offline queue drain of " + size + " commands (per command, vs raw runner)", drain, raw, "us",
                      drain / raw, Aim::none, 0});
  }
  if (counts.size() < 2) return;
  // Per-command time at the largest size against the same at the smallest:
  // 1.0 is linear. (The plain files and the raw runner stay near 1.0 here.)
  const int small = counts.front(), large = counts.back();
  const std::string span = " (per command at " + std::to_string(large) + " vs at " + std::to_string(small) + ")";
  for (const auto& [benchmark, what] : {std::pair{"storeInQueue", "store"}, std::pair{"drainQueue", "drain"}}) {
    const double atLarge = microsPerCommand(reporter, benchmark, large);
    const double atSmall = microsPerCommand(reporter, benchmark, small);
    bench::reportRow({std::string("offline queue ") + what + " growth" + span, atLarge, atSmall, "us",
                      atLarge / atSmall, Aim::atMost, 1.3});
  }
}

void reportCapRows(const bench::RecordingReporter& reporter) {
  using Aim = bench::ReportRow::Aim;
  for (const auto& [arg, where] : {std::pair{"0", "on disk"}, std::pair{"1", "in memory"}}) {
    const std::string run = std::string("storeAtCap/") + arg + "/iterations:1/real_time";
    const double atCap = reporter.counter(run, "at_cap_us");
    const double plain = reporter.counter(run, "plain_at_cap_us");
    const double belowCap = reporter.counter(run, "below_cap_us");
    const std::string path = std::string("offline queue store at its 10 MiB cap, ") + where;
    bench::reportRow({path + " (vs plain atomic writes deleting the oldest)", atCap, plain, "us", atCap / plain,
                      Aim::atMost, 1.3});
    bench::reportRow({path + " (vs the same store below it)", atCap, belowCap, "us", atCap / belowCap, Aim::none, 0});
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  environment();
  const auto counts = commandCounts();
  const std::pair<const char*, void (*)(benchmark::State&)> benchmarks[] = {
      {"storeInQueue", storeInQueue},
      {"storePlainFiles", storePlainFiles},
      {"drainQueue", drainQueue},
      {"sendWithRawRunner", sendWithRawRunner}};
  for (const auto& [name, function] : benchmarks) {
    auto* registered = benchmark::RegisterBenchmark(name, function);
    for (int count : counts) registered->Arg(count);
    registered->Iterations(1)->Unit(benchmark::kMillisecond);
    if (isStore(name)) {
      registered->UseManualTime();
    } else {
      registered->UseRealTime();
    }
  }
  benchmark::RegisterBenchmark("storeAtCap", storeAtCap)
      ->Arg(0)
      ->Arg(1)
      ->Iterations(1)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nrows (wall time)\n");
  reportScaleRows(reporter, counts);
  reportCapRows(reporter);
  benchmark::Shutdown();
  return 0;
}
