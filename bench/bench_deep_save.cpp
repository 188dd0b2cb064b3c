// Deep save of a graph of 1,000 new objects against the devserver in this
// process: objects per second and the requests (batches) it took. Peer: the
// same 1,000 creates sent as one ready-made "multi" through the network
// runner, which is the floor for what one batch costs on the wire.

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/reader_credentials.hpp"
#include "backend/internal/internal_utils.hpp"
#include "backend/net/backend.hpp"
#include "backend/net/command_runners.hpp"
#include "backend/object.hpp"
#include "devserver/server.hpp"
#include "platform/sandbox.hpp"
#include "ratio_reporter.hpp"
#include "support/scratch_directory.hpp"

namespace {

using backend::Object;
using backend::ObjectPtr;
using platform::Value;

constexpr int kObjects = 1000;
constexpr int kFanOut = 10;

// One devserver and a configured client for the whole run.
struct Service {
  Service() {
    platform::Sandbox::setRoot(root);
    server.start();
    backend::InternalUtils::setServer(server.baseUrl());
    backend::net::Backend::setApplicationId(app::kReaderApplicationId, app::kReaderClientKey);
  }
  ~Service() {
    server.stop();
  }

  // Backend commands the service has received so far.
  long long commandsSeen() {
    httplib::Client client("127.0.0.1", server.port());
    auto answer = client.Get("/_admin/requests?limit=100000");
    if (!answer) return -1;
    const Value requests = backend::InternalUtils::parseJSON(answer->body)["requests"];
    long long count = 0;
    if (const platform::Array* list = requests.array()) {
      for (const Value& entry : *list) {
        const Value path = entry["path"];
        if (path.isString() && path.string()->rfind("/2/", 0) == 0) ++count;
      }
    }
    return count;
  }
  void forgetCommands() { httplib::Client("127.0.0.1", server.port()).Delete("/_admin/requests"); }

  test_support::ScratchDirectory scratch;
  const std::filesystem::path root = scratch.path();
  devserver::Server server{devserver::Server::Options{}};
};

Service& service() {
  static Service instance;
  return instance;
}

// A tree of new objects, `kFanOut` children each, breadth first: every
// object points at its children, so each level goes in its own batch.
ObjectPtr buildGraph() {
  std::vector<ObjectPtr> objects;
  objects.reserve(kObjects);
  for (int i = 0; i < kObjects; ++i) {
    auto object = Object::objectWithClassName("BenchNode");
    object->setObject(Value(i), "n");
    object->setObject(Value("node " + std::to_string(i)), "label");
    objects.push_back(std::move(object));
  }
  for (int i = 0; i < kObjects; ++i) {
    platform::Array children;
    for (int c = i * kFanOut + 1; c <= i * kFanOut + kFanOut && c < kObjects; ++c) children.push_back(Value(objects[c]));
    if (!children.empty()) objects[i]->setObject(Value(std::move(children)), "children");
  }
  return objects.front();
}

void BM_DeepSave1000(benchmark::State& state) {
  auto& svc = service();
  long long requests = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ObjectPtr root = buildGraph();
    svc.forgetCommands();
    state.ResumeTiming();
    std::optional<platform::Error> error;
    if (!root->save(&error)) state.SkipWithError(error ? error->message().c_str() : "save failed");
    state.PauseTiming();
    requests = svc.commandsSeen();
    state.ResumeTiming();
  }
  state.counters["objects/s"] = benchmark::Counter(double(kObjects) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["requests"] = double(requests);
}

void BM_RawMulti1000(benchmark::State& state) {
  auto& svc = service();
  svc.forgetCommands();
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<backend::net::CommandPtr> creates;
    creates.reserve(kObjects);
    for (int i = 0; i < kObjects; ++i) {
      creates.push_back(backend::net::Command::commandWithServerOperation(
          "create",
          Value::dictionary({{"classname", "BenchNode"},
                             {"data", Value::dictionary({{"n", i}, {"label", "node " + std::to_string(i)}})}}),
          std::nullopt));
    }
    auto multi = backend::net::MultiCommand::multiCommandWithCommands(creates, std::nullopt);
    state.ResumeTiming();
    auto task = backend::net::NetworkCommandRunner::runCommandAsync(multi);
    task.waitUntilFinished();
    if (task.error()) state.SkipWithError(task.error()->message().c_str());
  }
  state.counters["objects/s"] = benchmark::Counter(double(kObjects) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["requests"] = 1;
}

BENCHMARK(BM_DeepSave1000)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_RawMulti1000)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratio (the peer's wall time over ours; 1 would be as fast as one ready-made multi)\n");
  bench::printSpeedRatio(reporter, "BM_DeepSave1000/min_time:2.000/real_time", "BM_RawMulti1000/min_time:2.000/real_time",
                         "deep save of 1,000 new objects:");
  bench::reportSpeedRatio(reporter, "deep save of 1,000 new objects (speed vs one multi)",
                          "BM_DeepSave1000/min_time:2.000/real_time", "BM_RawMulti1000/min_time:2.000/real_time",
                          bench::ReportRow::Aim::atLeast, 0.9);
  benchmark::Shutdown();
  return 0;
}
