// A program that dies of an uncaught exception with crash reporting on, for
// the tests of the uncaught-exception handler.
//   analytics_crash_helper <collector-url> <store-directory> once|twice

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include "analytics/analytics.hpp"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <collector-url> <store-directory> once|twice\n", argv[0]);
    return 2;
  }
  analytics::Analytics::Configuration configuration;
  configuration.httpsURL = argv[1];
  configuration.httpURL = argv[1];
  configuration.storeDirectory = argv[2];
  analytics::Analytics::configureSharedInstance(configuration);
  auto& instance = analytics::Analytics::sharedInstance();
  instance.setTrackUncaughtExceptions(true);
  instance.trackerWithTrackingId("AN-318264-9");
  if (std::string(argv[3]) == "twice") {
    // A second failure while the first is still being reported.
    static std::thread second([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      throw std::logic_error("second failure");
    });
  }
  throw std::runtime_error("feed exploded");
}
