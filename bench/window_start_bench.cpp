// The reader's window, in wall time from launch to the first frame that
// shows its loaded home page ("first page drawn"), against a bare WebKitGTK
// window (bare-web-window) loading the same page through the same local
// services and reporting the same moment. Both run on a devserver started
// once for the run, so neither pays for starting the services, and each
// launch of the reader gets a fresh data folder, as on a first start.
// Needs a display (the benchmark runner provides a virtual one); both get
// the environment the window tests use there (software drawing, no
// accessibility bus).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

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

// The page the reader's launch drew; the bare window loads the same.
std::string& homePage() {
  static std::string url = "http://m.vestavind.test/?hideHeader=1";
  return url;
}

void readerWindowToFirstDrawnPage(benchmark::State& state) {
  const std::string reader = program("newsreader").string();
  for (auto _ : state) {
    test_support::ScratchDirectory data;
    const auto start = Clock::now();
    NewsreaderProcess process(reader, {"--services", services().baseUrl(), "--data-dir", data.path().string()},
                              windowEnvironment());
    const auto drawn = process.waitForLine(kDrawnLine, kLaunchLimit);
    if (!drawn) {
      state.SkipWithError("the reader's window drew no page");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    homePage() = *drawn;
  }
}

void bareWebKitWindowToFirstDrawnPage(benchmark::State& state) {
  const std::string bare = program("bare-web-window").string();
  for (auto _ : state) {
    const auto start = Clock::now();
    NewsreaderProcess process(bare, {services().baseUrl(), homePage()}, windowEnvironment());
    if (!process.waitForLine(kDrawnLine, kLaunchLimit)) {
      state.SkipWithError("the bare window drew no page");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
  }
}

BENCHMARK(readerWindowToFirstDrawnPage)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);
BENCHMARK(bareWebKitWindowToFirstDrawnPage)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

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
  std::printf("\nratios (wall time over the peer's)\n");
  bench::reportTimeRatio(reporter, "window launch to first drawn page (beside a bare WebKitGTK window)",
                         "readerWindowToFirstDrawnPage/iterations:8/manual_time",
                         "bareWebKitWindowToFirstDrawnPage/iterations:8/manual_time", bench::ReportRow::Aim::atMost, 1.3,
                         true);
  services().stop();
  benchmark::Shutdown();
  return 0;
}
