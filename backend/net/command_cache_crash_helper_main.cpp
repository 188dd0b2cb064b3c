// Stores commands in the offline queue, one after another, until it is
// killed; prints the number of each command once its store has returned.
// The queue stays offline, so nothing is sent.
//   command_cache_crash_helper <queue-directory>

#include <cstdio>

#include "backend/net/command_cache.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <queue-directory>\n", argv[0]);
    return 2;
  }
  platform::ManualReachabilitySource offline;
  offline.setDefaultFlags(platform::ReachabilityFlag::ConnectionRequired);
  backend::net::CommandCache queue(argv[1], offline);
  for (int n = 0;; ++n) {
    auto data = platform::Value::dictionary({{"n", n}, {"text", "stored before the crash"}});
    auto command = backend::net::Command::commandWithServerOperation(
        "create", platform::Value::dictionary({{"classname", "QueueNote"}, {"data", data}}), std::nullopt);
    queue.runEventuallyAsync(command, nullptr);
    queue.waitForStores();
    std::printf("%d\n", n);
    std::fflush(stdout);
  }
}
