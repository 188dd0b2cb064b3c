// The devserver under load: 200 concurrent clients sending signed finds and
// creates and collector hits for a minute, a third of them holding a push
// stream meanwhile. The peer, the ceiling of what the HTTP library can do
// here, is a bare server of the same library answering every request with a
// fixed body, under the same clients. Reported: requests per second, the
// 99th-percentile and the slowest latency, answers that are not a success,
// and how much the process grew after warming up.
// VV_LOAD_SECONDS shortens the run (default 60).
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "backend_service/reader_application.hpp"
#include "devserver/server.hpp"
#include "http/accept_queue.hpp"
#include "http/connection_workers.hpp"
#include "oauth_signer.hpp"
#include "ratio_reporter.hpp"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kClients = 200;
constexpr std::size_t kMaxWorkerThreads = 1024;  // as the devserver's own workers
constexpr const char* kApiBase = "https://api.backend.test";

std::chrono::seconds runLength() {
  const char* text = std::getenv("VV_LOAD_SECONDS");
  int seconds = text ? std::atoi(text) : 60;
  return std::chrono::seconds(std::clamp(seconds, 2, 600));
}

double residentMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// What every client saw, merged.
struct Tally {
  std::mutex mutex;
  std::vector<double> latenciesMs;
  long failures = 0;
  std::string firstFailure;

  long retries = 0;

  void add(std::vector<double>& mine, long failed, long retried, const std::string& failure) {
    std::lock_guard lock(mutex);
    latenciesMs.insert(latenciesMs.end(), mine.begin(), mine.end());
    failures += failed;
    retries += retried;
    if (firstFailure.empty()) firstFailure = failure;
  }
};

// One client's requests: a signed create, a signed find of the newest items,
// a signed find by the id it created last, and a collector hit.
class LoadClient {
 public:
  LoadClient(int port, int index) : client_("127.0.0.1", port), index_(index) {
    client_.set_keep_alive(true);
    client_.set_read_timeout(30, 0);
  }

  void runUntil(Clock::time_point end) {
    for (long round = 0; Clock::now() < end; ++round) {
      switch (round % 4) {
        case 0: create(round); break;
        case 1: command("find", R"({"classname":"LoadItem","order":"-createdAt","limit":"10"})"); break;
        case 2:
          command("find", nlohmann::json{{"classname", "LoadItem"}, {"where", {{"objectId", lastId_}}}}.dump());
          break;
        default: hit(round); break;
      }
    }
  }

  std::vector<double> latenciesMs;
  long failures = 0;
  long retries = 0;
  std::string firstFailure;

 private:
  void create(long round) {
    nlohmann::json body{{"classname", "LoadItem"}, {"data", {{"client", index_}, {"round", round}}}};
    auto answer = command("create", body.dump());
    auto parsed = nlohmann::json::parse(answer, nullptr, false);
    if (parsed.is_object() && parsed["result"].is_object() && parsed["result"]["data"].is_object()) {
      lastId_ = parsed["result"]["data"].value("objectId", lastId_);
    }
  }

  std::string command(const std::string& operation, const std::string& body) {
    std::string path = "/2/" + operation;
    httplib::Headers headers{
        {"Host", "api.backend.test"},
        {"Authorization", devserver::test::oauthHeader(kApiBase + path, devserver::backend::kReaderApplicationId,
                                                       devserver::backend::kReaderClientKey)}};
    return timed(operation, [&] { return client_.Post(path, headers, body, "application/json"); });
  }

  void hit(long round) {
    std::string path = "/collect?v=1&tid=UA-1-1&cid=" + std::to_string(index_) + "&t=pageview&dp=%2F" +
                       std::to_string(round);
    timed("collect", [&] { return client_.Get(path, {{"Host", "ssl.analytics.test"}}); });
  }

  template <typename Send>
  std::string timed(const std::string& what, Send send) {
    auto started = Clock::now();
    httplib::Result result = send();
    if (!result && result.error() == httplib::Error::Read) {
      // The server ended an idle kept-alive connection just as this request
      // went out on it (a client thread the loaded machine kept waiting past
      // the keep-alive timeout); like any HTTP client, send it again once.
      ++retries;
      result = send();
    }
    latenciesMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
    bool success = result && result->status >= 200 && result->status < 300;
    // A command's own error answer ({"code", "error"}) is not a success either.
    if (success && result->body.find("\"error\"") != std::string::npos) success = false;
    if (!success) {
      ++failures;
      if (firstFailure.empty()) {
        firstFailure = what + ": " +
                       (result ? std::to_string(result->status) + " " + result->body.substr(0, 200)
                               : "transport: " + httplib::to_string(result.error()));
      }
    }
    return result ? result->body : std::string();
  }

  httplib::Client client_;
  int index_;
  std::string lastId_ = "none";
};

// A device holding its event stream until `end`; counts a refused stream.
void holdPushStream(int port, Clock::time_point end, std::atomic<int>& refused) {
  httplib::Client client("127.0.0.1", port);
  auto registered = client.Post("/devices", {{"Host", "push.gateway.test"}}, "", "application/json");
  if (!registered || registered->status != 201) {
    ++refused;
    return;
  }
  std::string token = nlohmann::json::parse(registered->body)["token"];
  client.set_read_timeout(10, 0);
  while (Clock::now() < end) {
    auto result = client.Get(
        "/devices/" + token + "/events", {{"Host", "push.gateway.test"}},
        [&](const httplib::Response& response) {
          if (response.status == 503) ++refused;
          return response.status == 200;
        },
        [&](const char*, std::size_t) { return Clock::now() < end; });
    if (!result && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// Requests per second and 99th percentile (ms) of each side, for the ratio.
struct Figures {
  double rps = 0;
  double p99 = 0;
};
Figures devserverFigures;
Figures bareFigures;

// Runs the clients against `port` and reports into `state` and `figures`.
void driveLoad(benchmark::State& state, int port, bool holdStreams, Figures& figures) {
  auto length = runLength();
  auto warmUp = std::max<std::chrono::seconds>(std::chrono::seconds(1), length / 6);
  auto start = Clock::now();
  auto end = start + length;
  Tally tally;
  std::atomic<int> refusedStreams{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&, i] {
      LoadClient client(port, i);
      client.runUntil(end);
      tally.add(client.latenciesMs, client.failures, client.retries, client.firstFailure);
    });
    if (holdStreams && i % 3 == 0) threads.emplace_back([&] { holdPushStream(port, end, refusedStreams); });
  }
  std::this_thread::sleep_until(start + warmUp);
  double warmMiB = residentMiB();
  for (auto& thread : threads) thread.join();
  double endMiB = residentMiB();

  auto& latencies = tally.latenciesMs;
  std::sort(latencies.begin(), latencies.end());
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  state.counters["requests"] = static_cast<double>(latencies.size());
  state.counters["rps"] = static_cast<double>(latencies.size()) / seconds;
  state.counters["p99_ms"] = latencies.empty() ? 0 : latencies[latencies.size() * 99 / 100];
  state.counters["max_ms"] = latencies.empty() ? 0 : latencies.back();
  state.counters["failures"] = static_cast<double>(tally.failures);
  state.counters["resent"] = static_cast<double>(tally.retries);
  state.counters["refused_streams"] = refusedStreams.load();
  state.counters["rss_growth_MiB"] = endMiB - warmMiB;
  figures = {state.counters["rps"], state.counters["p99_ms"]};
  if (!tally.firstFailure.empty()) std::fprintf(stderr, "first failure: %s\n", tally.firstFailure.c_str());
}

void devserverUnderLoad(benchmark::State& state) {
  for (auto _ : state) {
    devserver::Server::Options options;
    devserver::Server server(options);
    server.start();
    driveLoad(state, server.port(), true, devserverFigures);
  }
}

void bareServerUnderLoad(benchmark::State& state) {
  for (auto _ : state) {
    httplib::Server server;
    server.new_task_queue = [] { return new devserver::ConnectionWorkers(kMaxWorkerThreads); };
    server.set_keep_alive_timeout(2);
    server.set_keep_alive_max_count(100);
    socket_t listening = INVALID_SOCKET;
    server.set_socket_options([&listening](socket_t socket) { listening = socket; });
    auto fixed = [](const httplib::Request&, httplib::Response& response) {
      response.set_content(R"({"result":{"results":[]}})", "application/json");
    };
    server.Get(".*", fixed);
    server.Post(".*", fixed);
    int port = server.bind_to_any_port("127.0.0.1");
    devserver::widenAcceptQueue(listening);
    std::thread listener([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    driveLoad(state, port, false, bareFigures);
    server.stop();
    listener.join();
  }
}

BENCHMARK(devserverUnderLoad)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(bareServerUnderLoad)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (devserverFigures.rps > 0 && bareFigures.rps > 0) {
    std::printf("devserver / bare server: requests per second = %.2fx, p99 latency = %.2fx\n",
                devserverFigures.rps / bareFigures.rps, devserverFigures.p99 / std::max(bareFigures.p99, 0.001));
  }
  return 0;
}
