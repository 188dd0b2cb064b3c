// The reader's start, in wall time from launch to its first "loaded" line:
// `newsreader --headless` on its embedded services with a fresh data folder,
// against the floor of what that start has to do anyway — the devserver
// program started to its "listening" line plus the two GETs the start needs
// (the menu configuration and the home page), each asked for as the reader
// asks: the page in any encoding libcurl decodes, as a web view asks for it
// (the devserver then compresses it), the configuration plain.

#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>

#include "ratio_reporter.hpp"
#include "support/newsreader_process.hpp"
#include "support/scratch_directory.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The programs sit beside the benchmarks in bin/.
fs::path program(const std::string& name) { return fs::read_symlink("/proc/self/exe").parent_path() / name; }

size_t keepBody(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

enum class Encoding { plain, compressed };

// One GET of `url` with the Host header of the routed site; the body, or
// empty when the answer is not a 200.
std::string get(CURL* curl, const std::string& url, const std::string& host, Encoding encoding) {
  std::string body;
  curl_slist* headers = curl_slist_append(nullptr, ("Host: " + host).c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, encoding == Encoding::compressed ? "" : nullptr);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, keepBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  long status = 0;
  if (curl_easy_perform(curl) != CURLE_OK || curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
      status != 200) {
    body.clear();
  }
  curl_slist_free_all(headers);
  return body;
}

void readerStartToFirstPage(benchmark::State& state) {
  const std::string reader = program("newsreader").string();
  for (auto _ : state) {
    test_support::ScratchDirectory data;
    const auto start = Clock::now();
    test_support::NewsreaderProcess process(reader, {"--headless", "--data-dir", data.path().string()});
    if (!process.waitForLine("loaded ", std::chrono::seconds(30))) {
      state.SkipWithError("the reader printed no \"loaded\" line");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    // Ended by the end of its input, so it removes its local services' data
    // folder (a killed reader leaves one in /tmp per run).
    process.closeInputAndWait();
  }
}

void devserverStartAndTwoGets(benchmark::State& state) {
  const std::string devserver = program("devserver").string();
  CURL* curl = curl_easy_init();
  for (auto _ : state) {
    const auto start = Clock::now();
    test_support::NewsreaderProcess process(devserver, {"--port", "0", "--quiet"});
    const auto baseURL = process.waitForLine("listening on ", std::chrono::seconds(30));
    if (!baseURL) {
      state.SkipWithError("the devserver printed no \"listening\" line");
      break;
    }
    if (get(curl, *baseURL + "/iosapp/menuconfig/", "www.vestavind.test", Encoding::plain).empty() ||
        get(curl, *baseURL + "/?hideHeader=1", "m.vestavind.test", Encoding::compressed).empty()) {
      state.SkipWithError("a GET failed");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    // Stopped the way it removes its data folder.
    ::kill(process.pid(), SIGTERM);
    process.closeInputAndWait();
  }
  curl_easy_cleanup(curl);
}

BENCHMARK(readerStartToFirstPage)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);
BENCHMARK(devserverStartAndTwoGets)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(10);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratios (wall time over the peer's)\n");
  bench::reportTimeRatio(reporter, "reader start to first page (terminal, embedded services)",
                         "readerStartToFirstPage/iterations:10/manual_time",
                         "devserverStartAndTwoGets/iterations:10/manual_time", bench::ReportRow::Aim::atMost, 2.0, true);
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
