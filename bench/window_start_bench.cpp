// The reader's window, in wall time from launch to the first frame that
// shows its loaded home page ("first page drawn"), against a bare WebKitGTK
// window (bare-web-window) loading the same page through the same local
// services and reporting the same moment. Both run on a devserver started
// once for the run, so neither pays for starting the services, and each
// launch of the reader gets a fresh data folder, as on a first start. The
// two launch in turns, ten rounds, so a shifting machine load weighs on both.
// Needs a display (the benchmark runner provides a virtual one); both get
// the environment the window tests use there (software drawing, no
// accessibility bus).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devserver/server.hpp"
#include "ratio_reporter.hpp"
#include "support/newsreader_process.hpp"
#include "support/scratch_directory.hpp"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test_support::NewsreaderProcess;

constexpr const char* kDrawnLine = "first page drawn ";
constexpr auto kLaunchLimit = std::chrono::seconds(60);

fs::path program(const std::string& name) { return fs::read_symlink("/proc/self/exe").parent_path() / name; }

const NewsreaderProcess::Environment& windowEnvironment() {
  static const NewsreaderProcess::Environment environment{{"GDK_BACKEND", "x11"},
                                                          {"GSETTINGS_BACKEND", "memory"},
                                                          {"WEBKIT_DISABLE_COMPOSITING_MODE", "1"},
                                                          {"LIBGL_ALWAYS_SOFTWARE", "1"},
                                                          {"NO_AT_BRIDGE", "1"}};
  return environment;
}

devserver::Server& services() {
  static devserver::Server* server = [] {
    auto* started = new devserver::Server(devserver::Server::Options{});
    started->start();
    return started;
  }();
  return *server;
}

// Seconds from launching `program` to its "first page drawn" line, which
// names the page; nullopt when none came.
std::optional<std::pair<double, std::string>> launchToFirstDrawnPage(const std::string& program,
                                                                     const std::vector<std::string>& arguments) {
  const auto start = Clock::now();
  NewsreaderProcess process(program, arguments, windowEnvironment());
  const auto drawn = process.waitForLine(kDrawnLine, kLaunchLimit);
  if (!drawn) return std::nullopt;
  return std::pair{std::chrono::duration<double>(Clock::now() - start).count(), *drawn};
}

// The reader and the bare window launch in turns, so a shifting machine load
// falls on both alike.
void windowLaunchToFirstDrawnPage(benchmark::State& state) {
  constexpr int kRounds = 10;
  const std::string reader = program("newsreader").string();
  const std::string bare = program("bare-web-window").string();
  double ours = 0;
  double peer = 0;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      test_support::ScratchDirectory data;
      const auto readerLaunch =
          launchToFirstDrawnPage(reader, {"--services", services().baseUrl(), "--data-dir", data.path().string()});
      if (!readerLaunch) return state.SkipWithError("the reader's window drew no page");
      // The page the reader's launch drew; the bare window loads the same.
      const auto bareLaunch = launchToFirstDrawnPage(bare, {services().baseUrl(), readerLaunch->second});
      if (!bareLaunch) return state.SkipWithError("the bare window drew no page");
      ours += readerLaunch->first;
      peer += bareLaunch->first;
    }
  }
  state.counters["reader_ms"] = ours * 1e3 / kRounds;
  state.counters["bare_ms"] = peer * 1e3 / kRounds;
}

BENCHMARK(windowLaunchToFirstDrawnPage)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const char* x11 = std::getenv("DISPLAY");
  if (!x11 || !*x11) {
    std::printf("no display: the window's launch is not measured\n");
    return 0;
  }
  bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nrows (wall time over the peer's)\n");
  const std::string run = "windowLaunchToFirstDrawnPage/iterations:1/real_time";
  const double ours = reporter.counter(run, "reader_ms"), peer = reporter.counter(run, "bare_ms");
  bench::reportRow({"window launch to first drawn page (beside a bare WebKitGTK window)", ours, peer, "ms", ours / peer,
                    bench::ReportRow::Aim::atMost, 1.3});
  services().stop();
  benchmark::Shutdown();
  return 0;
}
