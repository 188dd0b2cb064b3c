// How the cost of a find grows with its answer: 10, 1,000 and 10,000 stored
// objects found against the devserver in this process (the service answers
// at most 1,000 a find, so 10,000 is ten pages of 1,000, as a client pages).
// Peer at each size: the same find commands through the network runner,
// answers decoded but not turned into objects. Rows give the time per object;
// the last row sets how the time per object grows from 1,000 to 10,000
// against how the plain finds' grows (1.0: the client adds nothing that
// grows faster than the answer).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/reader_credentials.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/net/backend.hpp"
#include "backend/net/command_runners.hpp"
#include "backend/query.hpp"
#include "devserver/server.hpp"
#include "platform/sandbox.hpp"
#include "ratio_reporter.hpp"
#include "settled_task.hpp"
#include "support/scratch_directory.hpp"

namespace {

using backend::net::Command;
using backend::net::CommandPtr;
using platform::Value;

constexpr int kPage = 1000;
constexpr int kSizes[] = {10, 1000, 10000};

using bench::settled;

std::string classFor(int count) { return "Scale" + std::to_string(count); }

CommandPtr createStory(const std::string& className, int n) {
  auto data = Value::dictionary({
      {"n", n},
      {"title", "Overskrift nummer " + std::to_string(n) + ": været"},
      {"views", n * 1337},
      {"tags", Value::array({Value("vær"), Value("n" + std::to_string(n % 17))})},
      {"when", Value::dictionary({{"__type", "Date"}, {"iso", "2026-12-06T10:00:00.000Z"}})},
      {"author", Value::dictionary({{"__type", "Pointer"}, {"className", "Reporter"}, {"objectId", "rep0001"}})},
  });
  return Command::commandWithServerOperation("create", Value::dictionary({{"classname", className}, {"data", data}}),
                                             std::nullopt);
}

// One devserver with `count` stories in each size's class, and a configured
// client, for the whole run.
struct Service {
  Service() {
    platform::Sandbox::setRoot(scratch.path());
    server.start();
    backend::InternalUtils::setServer(server.baseUrl());
    backend::net::Backend::setApplicationId(app::kReaderApplicationId, app::kReaderClientKey);
    for (int count : kSizes) seed(classFor(count), count);
  }
  ~Service() { server.stop(); }

  void seed(const std::string& className, int count) {
    for (int first = 0; first < count; first += 500) {
      std::vector<CommandPtr> creates;
      for (int n = first; n < std::min(count, first + 500); ++n) creates.push_back(createStory(className, n));
      const auto task = settled(backend::net::NetworkCommandRunner::runCommandAsync(
          backend::net::MultiCommand::multiCommandWithCommands(creates, std::nullopt)));
      if (task.error()) seedError = task.error()->message();
    }
  }

  test_support::ScratchDirectory scratch;
  devserver::Server server{devserver::Server::Options{}};
  std::string seedError;
};

Service& service() {
  static Service instance;
  return instance;
}

// Pages of at most kPage objects until `count` are found.
std::size_t findObjects(int count) {
  std::size_t found = 0;
  for (int skip = 0; skip < count; skip += kPage) {
    auto query = backend::Query::queryWithClassName(classFor(count));
    query->setLimit(std::min(kPage, count - skip));
    query->setSkip(skip);
    const auto page = settled(query->findAsync(backend::kCachePolicyIgnoreCache));
    if (!page.error()) found += page.result().size();
  }
  return found;
}

// The same pages as plain find commands: the wire and the decoded answers.
std::size_t findValues(int count) {
  std::size_t found = 0;
  for (int skip = 0; skip < count; skip += kPage) {
    platform::Dictionary params{{"classname", classFor(count)}, {"limit", std::to_string(std::min(kPage, count - skip))}};
    if (skip) params.set("skip", Value(std::to_string(skip)));
    const auto task = settled(backend::net::NetworkCommandRunner::runCommandAsync(
        Command::commandWithServerOperation("find", Value(std::move(params)), std::nullopt)));
    const Value results = task.result().result["results"];
    if (const platform::Array* list = results.array()) found += list->size();
  }
  return found;
}

template <std::size_t (*Find)(int)>
void findScale(benchmark::State& state) {
  auto& svc = service();
  if (!svc.seedError.empty()) {
    state.SkipWithError(("seeding failed: " + svc.seedError).c_str());
    return;
  }
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    if (Find(count) != static_cast<std::size_t>(count)) {
      state.SkipWithError("not every stored object was found");
      return;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
}

void findObjectsScale(benchmark::State& state) { findScale<findObjects>(state); }
void findCommandsScale(benchmark::State& state) { findScale<findValues>(state); }

BENCHMARK(findObjectsScale)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(findCommandsScale)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string runName(const char* bench, int count) { return std::string(bench) + "/" + std::to_string(count) + "/real_time"; }

double microsPerObject(const bench::RecordingReporter& r, const char* bench, int count) {
  return bench::micros(r, runName(bench, count), true) / count;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nrows (wall time per object, against the same find commands without objects)\n");
  using Aim = bench::ReportRow::Aim;
  for (int count : kSizes) {
    const double ours = microsPerObject(reporter, "findObjectsScale", count);
    const double peer = microsPerObject(reporter, "findCommandsScale", count);
    bench::reportRow({"find answer of " + std::to_string(count) + " objects (per object)", ours, peer, "us", ours / peer,
                      Aim::none, 0});
  }
  // Paging costs the service more per object as the class grows (each page
  // reads past the ones before it); what the client adds must not grow.
  const auto growth = [&](const char* bench) {
    return microsPerObject(reporter, bench, 10000) / microsPerObject(reporter, bench, 1000);
  };
  const double ours = growth("findObjectsScale"), peer = growth("findCommandsScale");
  bench::reportRow({"find answer growth 1,000 to 10,000 (per-object time x)", ours, peer, "x", ours / peer, Aim::atMost,
                    1.3});
  benchmark::Shutdown();
  return 0;
}
