// Deep save of a graph of 1,000 new objects against the devserver in this
// process: its wall time and the requests (batches) it took. Peer: the same
// 1,000 creates, with the same fields, sent as one ready-made "multi" through
// the network runner, which is the floor for what one batch costs on the wire.

#include <benchmark/benchmark.h>
#include <httplib.h>

#include <chrono>
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

// An id as long as the service's own, so both requests carry as many bytes.
std::string madeUpId(int n) {
  std::string id = std::to_string(n);
  return std::string(10 - id.size(), 'x') + id;
}

// The 1,000 creates as one ready-made "multi", built before the clock starts,
// with the same children lists (pointers to made-up ids), so the service
// stores the same data for both.
backend::net::CommandPtr readyMulti() {
  std::vector<backend::net::CommandPtr> creates;
  creates.reserve(kObjects);
  for (int i = 0; i < kObjects; ++i) {
    Value data = Value::dictionary({{"n", i}, {"label", "node " + std::to_string(i)}});
    platform::Array children;
    for (int c = i * kFanOut + 1; c <= i * kFanOut + kFanOut && c < kObjects; ++c)
      children.push_back(Value::dictionary(
          {{"__type", "Pointer"}, {"className", "BenchNode"}, {"objectId", madeUpId(c)}}));
    if (!children.empty()) data.dictionary()->set("children", Value(std::move(children)));
    creates.push_back(backend::net::Command::commandWithServerOperation(
        "create", Value::dictionary({{"classname", "BenchNode"}, {"data", std::move(data)}}), std::nullopt));
  }
  return backend::net::MultiCommand::multiCommandWithCommands(creates, std::nullopt);
}

// Alternating rounds of the two, so both see the same machine load (the
// machine is shared, and a load that shifts between two separate runs
// swamps the difference).
void BM_DeepSaveVsMulti(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  auto& svc = service();
  Clock::duration deepTime{}, multiTime{};
  long long requests = 0;
  for (auto _ : state) {
    ObjectPtr root = buildGraph();
    svc.forgetCommands();
    auto t0 = Clock::now();
    std::optional<platform::Error> error;
    if (!root->save(&error)) state.SkipWithError(error ? error->message().c_str() : "save failed");
    auto t1 = Clock::now();
    requests = svc.commandsSeen();
    auto multi = readyMulti();
    auto t2 = Clock::now();
    auto task = backend::net::NetworkCommandRunner::runCommandAsync(multi);
    task.waitUntilFinished();
    auto t3 = Clock::now();
    if (task.error()) state.SkipWithError(task.error()->message().c_str());
    deepTime += t1 - t0;
    multiTime += t3 - t2;
  }
  const double rounds = double(state.iterations());
  state.counters["deep_ms"] = std::chrono::duration<double, std::milli>(deepTime).count() / rounds;
  state.counters["multi_ms"] = std::chrono::duration<double, std::milli>(multiTime).count() / rounds;
  state.counters["speed_vs_multi"] = std::chrono::duration<double>(multiTime) / std::chrono::duration<double>(deepTime);
  state.counters["requests"] = double(requests);
}

BENCHMARK(BM_DeepSaveVsMulti)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(4.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const std::string name = "BM_DeepSaveVsMulti/min_time:4.000/real_time";
  bench::reportRow({"deep save of 1,000 new objects (speed vs one multi)", reporter.counter(name, "deep_ms") * 1e3,
                    reporter.counter(name, "multi_ms") * 1e3, "us", reporter.counter(name, "speed_vs_multi"),
                    bench::ReportRow::Aim::atLeast, 0.9});
  benchmark::Shutdown();
  return 0;
}
