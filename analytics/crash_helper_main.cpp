// A program that dies of an uncaught exception with crash reporting on, for
// the tests of the uncaught-exception handler.
//   analytics_crash_helper <collector-url> <store-directory> once|twice|blocked-main
// twice: a second thread fails while the first report is on its way.
// blocked-main: a main queue that never runs (a window's loop, stopped by the
// failure on its own thread), and two hits stored before the failure.

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include "analytics/analytics.hpp"
#include "platform/run_loop.hpp"

int main(int argc, char** argv) {
  std::string mode = argc == 4 ? argv[3] : "";
  if (mode != "once" && mode != "twice" && mode != "blocked-main") {
    std::fprintf(stderr, "usage: %s <collector-url> <store-directory> once|twice|blocked-main\n", argv[0]);
    return 2;
  }
  static platform::RunLoop stoppedLoop;
  if (mode == "blocked-main") platform::setMainQueue(&stoppedLoop);
  analytics::Analytics::Configuration configuration;
  configuration.httpsURL = argv[1];
  configuration.httpURL = argv[1];
  configuration.storeDirectory = argv[2];
  analytics::Analytics::configureSharedInstance(configuration);
  auto& instance = analytics::Analytics::sharedInstance();
  instance.setTrackUncaughtExceptions(true);
  auto tracker = instance.trackerWithTrackingId("AN-318264-9");
  if (mode == "blocked-main") {
    tracker->send({{"&t", platform::Value("appview")}, {"&cd", platform::Value("Frontpage")}});
    tracker->send({{"&t", platform::Value("appview")}, {"&cd", platform::Value("Article")}});
  }
  if (mode == "twice") {
    static std::thread second([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      throw std::logic_error("second failure");
    });
  }
  throw std::runtime_error("feed exploded");
}
