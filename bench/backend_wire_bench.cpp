// 2,000 small "find" commands through the network runner to a loopback
// server, side by side with the same 2,000 requests sent by raw libcurl multi
// with the same connection reuse and the same concurrency of 3. Wall time:
// both wait on the same server, so requests per second is the measure.

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "backend/internal/internal_utils.hpp"
#include "backend/net/backend.hpp"
#include "backend/net/command_runners.hpp"
#include "platform/sandbox.hpp"
#include "ratio_reporter.hpp"
#include "support/loopback_server.hpp"
#include "support/scratch_directory.hpp"

namespace {

constexpr int kRequests = 2000;
constexpr int kConcurrency = 3;
constexpr const char* kAnswer = R"({"result":[{"objectId":"a1","title":"Story"}]})";

class AnswerServer {
 public:
  std::string url() const { return server_.url(); }

  // Client connections seen since the last call: each has its own port.
  std::size_t takeConnectionCount() {
    std::lock_guard lock(mutex_);
    auto count = clientPorts_.size();
    clientPorts_.clear();
    return count;
  }

 private:
  void noteConnection(int clientPort) {
    std::lock_guard lock(mutex_);
    clientPorts_.insert(clientPort);
  }

  static void tune(httplib::Server& server) {
    // Without it the server's separate head and body writes wait on the
    // client's delayed acknowledgement, and both sides measure that wait.
    server.set_tcp_nodelay(true);
    // Connections stay open for the whole run, as a busy server's would.
    server.set_keep_alive_max_count(1000000);
    server.set_keep_alive_timeout(5);
  }

  std::mutex mutex_;
  std::set<int> clientPorts_;
  test_support::LoopbackServer server_{
      [this](const httplib::Request& request, httplib::Response& response) {
        noteConnection(request.remote_port);
        response.set_content(kAnswer, "application/json");
      },
      test_support::LoopbackServer::Recording::Off, tune};
};

// One process-wide set-up: a private sandbox, the server, the client's
// configuration.
struct Setup {
  Setup() {
    platform::Sandbox::setRoot(root);
    backend::InternalUtils::setServer(server.url());
    backend::net::Backend::setApplicationId("bench-app-id", "bench-client-key");
  }
  test_support::ScratchDirectory scratch;
  const std::filesystem::path root = scratch.path();
  AnswerServer server;
};

Setup& setup() {
  static Setup instance;
  return instance;
}

backend::net::CommandPtr findCommand() {
  return backend::net::Command::commandWithServerOperation(
      "find", platform::Value::dictionary({{"classname", "Story"}, {"limit", 1}}), std::nullopt);
}

void BM_NetworkRunnerFind(benchmark::State& state) {
  setup().server.takeConnectionCount();
  for (auto _ : state) {
    std::vector<backend::AnyTask> tasks;
    tasks.reserve(kRequests);
    for (int i = 0; i < kRequests; ++i) tasks.push_back(backend::net::NetworkCommandRunner::runCommandAsync(findCommand()));
    backend::whenAll(tasks).waitUntilFinished();
    for (auto& task : tasks) {
      if (task.error() || task.exception()) state.SkipWithError("a command failed");
    }
  }
  state.counters["requests_per_s"] =
      benchmark::Counter(double(kRequests) * state.iterations(), benchmark::Counter::kIsRate);
  // Kept-alive connections make this the concurrency, not the request count.
  state.counters["connections"] = double(setup().server.takeConnectionCount());
}

// The peer: the same request (URL, headers, body) as the runner puts on the
// wire, sent from one thread through a curl multi handle; three easy handles
// are reused, so each keeps its connection.
struct RawRequest {
  std::string url;
  std::vector<std::string> headers;
  std::string body;
};

RawRequest sampleRequest() {
  auto operation = backend::net::NetworkCommandRunner::createRequest(findCommand());
  auto request = operation->request();
  RawRequest raw{request.url, {}, request.body.value_or("")};
  for (const auto& [name, value] : request.headers.all()) raw.headers.push_back(name + ": " + value);
  return raw;
}

std::size_t collect(char* data, std::size_t size, std::size_t count, void* sink) {
  static_cast<std::string*>(sink)->append(data, size * count);
  return size * count;
}

struct Transfer {
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  std::string answer;
};

void startTransfer(CURLM* multi, Transfer& transfer) {
  transfer.answer.clear();
  curl_multi_add_handle(multi, transfer.easy);
}

void BM_RawCurlMultiFind(benchmark::State& state) {
  setup().server.takeConnectionCount();
  RawRequest request = sampleRequest();
  CURLM* multi = curl_multi_init();
  std::vector<Transfer> transfers(kConcurrency);
  for (auto& transfer : transfers) {
    transfer.easy = curl_easy_init();
    for (const auto& header : request.headers) transfer.headers = curl_slist_append(transfer.headers, header.c_str());
    curl_easy_setopt(transfer.easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(transfer.easy, CURLOPT_HTTPHEADER, transfer.headers);
    curl_easy_setopt(transfer.easy, CURLOPT_POSTFIELDS, request.body.c_str());
    curl_easy_setopt(transfer.easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
    curl_easy_setopt(transfer.easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(transfer.easy, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(transfer.easy, CURLOPT_WRITEDATA, &transfer.answer);
    curl_easy_setopt(transfer.easy, CURLOPT_PRIVATE, &transfer);
    curl_easy_setopt(transfer.easy, CURLOPT_TIMEOUT, 60L);
  }
  for (auto _ : state) {
    int started = 0, finished = 0, failed = 0;
    for (auto& transfer : transfers) {
      if (started == kRequests) break;
      startTransfer(multi, transfer);
      ++started;
    }
    while (finished < kRequests) {
      int running = 0;
      curl_multi_perform(multi, &running);
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE) continue;
        Transfer* transfer = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
        long status = 0;
        curl_easy_getinfo(message->easy_handle, CURLINFO_RESPONSE_CODE, &status);
        if (message->data.result != CURLE_OK || status != 200) ++failed;
        curl_multi_remove_handle(multi, message->easy_handle);
        ++finished;
        if (started < kRequests) {
          startTransfer(multi, *transfer);
          ++started;
        }
      }
      if (finished < kRequests) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    if (failed) state.SkipWithError("a request failed");
  }
  for (auto& transfer : transfers) {
    curl_easy_cleanup(transfer.easy);
    curl_slist_free_all(transfer.headers);
  }
  curl_multi_cleanup(multi);
  state.counters["requests_per_s"] =
      benchmark::Counter(double(kRequests) * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["connections"] = double(setup().server.takeConnectionCount());
}

}  // namespace

// The CPU column is the whole process's (the server's share is the same on
// both sides). Medians of repetitions, as the machine may be shared; the
// repetitions of both sides run interleaved so that both meet the same load.
void measuredAlike(benchmark::internal::Benchmark* side) {
  side->Unit(benchmark::kMillisecond)
      ->MeasureProcessCPUTime()
      ->UseRealTime()
      ->Iterations(2)
      ->Repetitions(9)
      ->ReportAggregatesOnly();
}
BENCHMARK(BM_RawCurlMultiFind)->Apply(measuredAlike);
BENCHMARK(BM_NetworkRunnerFind)->Apply(measuredAlike);

int main(int argc, char** argv) {
  // Interleaving is the default here; a flag on the command line still wins.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  argc = static_cast<int>(args.size());
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratio (requests per second over the peer's; target >= 0.85)\n");
  const char* ours = "BM_NetworkRunnerFind/iterations:2/repeats:9/process_time/real_time_median";
  const char* peer = "BM_RawCurlMultiFind/iterations:2/repeats:9/process_time/real_time_median";
  bench::printSpeedRatio(reporter, ours, peer, "find commands (medians):");
  bench::printRatio(reporter, ours, peer, "process CPU with the server's share:");
  bench::reportSpeedRatio(reporter, "backend command round trip (speed vs raw libcurl multi)", ours, peer,
                          bench::ReportRow::Aim::atLeast, 1.0);
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
