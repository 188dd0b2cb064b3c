// The offline command queue, both ways, in commands per second of wall time
// (the work is disk syncs and loopback round trips, not CPU):
// 1. Storing N commands (default 10,000; VV_BENCH_COMMANDS overrides) while
//    offline, against writing the same JSON texts as files atomically with
//    plain POSIX calls (temporary file, fsync, rename, directory fsync).
// 2. Draining them against the in-process devserver, against sending the same
//    commands one after another with the raw network runner, no queue.

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

int commandCount() {
  const char* text = std::getenv("VV_BENCH_COMMANDS");
  int count = text ? std::atoi(text) : 0;
  return count > 0 ? count : 10000;
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
  const int count = commandCount();
  std::vector<CommandPtr> commands;
  for (int n = 0; n < count; ++n) commands.push_back(note(n));
  platform::ManualReachabilitySource reachability;
  setOnline(reachability, false);
  CommandCache queue(environment().freshDirectory("store"), reachability);
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
  const int count = commandCount();
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
  const int count = commandCount();
  platform::ManualReachabilitySource reachability;
  setOnline(reachability, false);
  CommandCache queue(environment().freshDirectory("drain"), reachability);
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
  const int count = commandCount();
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

BENCHMARK(storeInQueue)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(storePlainFiles)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(drainQueue)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(sendWithRawRunner)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Keeps wall times, the measure that matters here.
class WallTimeReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) times[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void printRatio(const std::string& ours, const std::string& peer, const char* what) const {
    auto a = times.find(ours), b = times.find(peer);
    if (a == times.end() || b == times.end()) return;
    std::printf("%-40s %s / %s wall time = %.2fx\n", what, ours.c_str(), peer.c_str(), a->second / b->second);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  environment();
  std::printf("%d commands each way\n", commandCount());
  WallTimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.printRatio("storeInQueue/iterations:1/real_time", "storePlainFiles/iterations:1/real_time",
                      "store (queue vs plain atomic files)");
  reporter.printRatio("drainQueue/iterations:1/real_time", "sendWithRawRunner/iterations:1/real_time",
                      "drain (queue vs raw network runner)");
  benchmark::Shutdown();
  return 0;
}
