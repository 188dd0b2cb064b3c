// The offline command queue, both ways, in commands per second of wall time
// (the work is disk syncs and loopback round trips, not CPU), at each size in
// VV_BENCH_COMMANDS (comma-separated; default 100,1000,10000 — each store and
// send waits on the disk, so 100,000 takes hours here):
// 1. Storing N commands while offline, against writing the same JSON texts as
//    files atomically with plain POSIX calls (temporary file, fsync, rename,
//    directory fsync).
// 2. Draining them against the in-process devserver, against sending the same
//    commands one after another with the raw network runner, no queue.
// The time per command at the largest size over that at the smallest shows
// how the cost grows (1.0 is linear).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backend/internal/internal_utils.hpp"
#include "backend/net/backend.hpp"
#include "backend/net/command_cache.hpp"
#include "backend/net/command_runners.hpp"
#include "devserver/server.hpp"
#include "platform/sandbox.hpp"
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
  if (counts.empty()) counts = {100, 1000, 10000};
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
  }
  fs::path freshDirectory(const std::string& name) {
    auto path = root / (name + std::to_string(++runs));
    fs::create_directories(path);
    return path;
  }
  test_support::ScratchDirectory scratch;
  const std::filesystem::path root = scratch.path();
  std::unique_ptr<devserver::Server> server;
  int runs = 0;
};

Environment& environment() {
  static Environment instance;
  return instance;
}

void setOnline(platform::ManualReachabilitySource& reachability, bool online) {
  reachability.setDefaultFlags(online ? platform::ReachabilityFlags(platform::ReachabilityFlag::Reachable)
                                      : platform::ReachabilityFlags(platform::ReachabilityFlag::ConnectionRequired));
}

void storeInQueue(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<CommandPtr> commands;
  for (int n = 0; n < count; ++n) commands.push_back(note(n));
  platform::ManualReachabilitySource reachability;
  setOnline(reachability, false);
  CommandCache queue(environment().freshDirectory("store"), reachability);
  queue.setMaxCacheSizeBytes(std::uintmax_t{1} << 32);  // every size kept, none dropped for room
  for (auto _ : state) {
    for (const auto& command : commands) queue.runEventuallyAsync(command, nullptr);
    queue.waitForStores();
  }
  if (queue.pendingCount() != static_cast<std::size_t>(count)) state.SkipWithError("commands missing");
  state.SetItemsProcessed(state.iterations() * count);
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

void storePlainFiles(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<std::string> texts;
  for (int n = 0; n < count; ++n) texts.push_back(note(n)->json());
  auto directory = environment().freshDirectory("plain");
  for (auto _ : state) {
    for (int n = 0; n < count; ++n) {
      if (!writeAtomically(directory, n, texts[static_cast<std::size_t>(n)])) state.SkipWithError("write failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * count);
}

void drainQueue(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  platform::ManualReachabilitySource reachability;
  setOnline(reachability, false);
  CommandCache queue(environment().freshDirectory("drain"), reachability);
  queue.setMaxCacheSizeBytes(std::uintmax_t{1} << 32);
  std::vector<backend::Task<backend::net::CommandResult>> tasks;
  for (int n = 0; n < count; ++n) tasks.push_back(queue.runEventuallyAsync(note(n), nullptr));
  queue.waitForStores();
  for (auto _ : state) {
    setOnline(reachability, true);
    for (auto& task : tasks) task.waitUntilFinished();
  }
  for (auto& task : tasks) {
    if (task.error()) state.SkipWithError("a command failed");
  }
  state.SetItemsProcessed(state.iterations() * count);
}

void sendWithRawRunner(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<CommandPtr> commands;
  for (int n = 0; n < count; ++n) commands.push_back(note(n));
  for (auto _ : state) {
    for (const auto& command : commands) {
      auto task = backend::net::NetworkCommandRunner::runCommandAsync(command);
      task.waitUntilFinished();
      if (task.error()) state.SkipWithError("a command failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * count);
}

// Keeps wall times, the measure that matters here.
class WallTimeReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) times[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatio(const std::string& ours, const std::string& peer, const std::string& what) const {
    auto a = times.find(ours), b = times.find(peer);
    if (a == times.end() || b == times.end()) return;
    std::printf("%-40s %s / %s wall time = %.2fx\n", what.c_str(), ours.c_str(), peer.c_str(), a->second / b->second);
  }
  // Time per command at `large` over that at `small`.
  void printGrowth(const std::string& name, int small, int large) const {
    auto a = times.find(name + "/" + std::to_string(small) + kSuffix);
    auto b = times.find(name + "/" + std::to_string(large) + kSuffix);
    if (a == times.end() || b == times.end() || small == large) return;
    std::printf("%-40s time per command at %d / at %d = %.2fx\n", (name + " growth:").c_str(), large, small,
                (b->second / large) / (a->second / small));
  }
  static constexpr const char* kSuffix = "/iterations:1/real_time";
  std::map<std::string, double> times;
};

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
    registered->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
  }
  WallTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int count : counts) {
    const std::string size = "/" + std::to_string(count) + WallTimeReporter::kSuffix;
    reporter.printRatio("storeInQueue" + size, "storePlainFiles" + size,
                        "store " + std::to_string(count) + " (queue vs plain atomic files)");
    reporter.printRatio("drainQueue" + size, "sendWithRawRunner" + size,
                        "drain " + std::to_string(count) + " (queue vs raw network runner)");
  }
  reporter.printGrowth("storeInQueue", counts.front(), counts.back());
  reporter.printGrowth("drainQueue", counts.front(), counts.back());
  benchmark::Shutdown();
  return 0;
}
