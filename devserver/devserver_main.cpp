#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>

#include "command_line.hpp"
#include "devserver/server.hpp"

// Exit codes: 0 success, 1 failure, 2 misuse.
int main(int argc, char** argv) {
  devserver::CommandLine line = devserver::parseCommandLine({argv + 1, argv + argc});
  if (line.help || line.version) {
    std::cout << line.text;
    return 0;
  }
  if (!line.error.empty()) {
    std::cerr << "devserver: " << line.error << "\n" << "try devserver --help\n";
    return 2;
  }
  // Block the stop signals before any thread starts, so only sigwait below sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  try {
    devserver::Server server(line.options);
    server.start();
    std::cout << "listening on " << server.baseUrl() << std::endl;
    if (line.options.dataDir.empty() && !line.options.quiet) {
      std::cerr << "data in " << server.dataDirectory().string() << " (removed at exit)\n";
    }
    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
  } catch (const std::exception& error) {
    std::cerr << "devserver: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
