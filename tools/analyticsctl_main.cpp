// analyticsctl: sends analytics hits to a collector from the command line.
//   analyticsctl send --collector http://127.0.0.1:8080/collect --count 3
//   analyticsctl send --route-to http://127.0.0.1:8080   (the built-in endpoint, routed)

#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "analytics/analytics.hpp"
#include "platform/run_loop.hpp"
#include "platform/service_routing.hpp"

namespace {

// Prints the client's messages when asked and notices failed exchanges.
class ToolLogger final : public analytics::Logger {
 public:
  explicit ToolLogger(bool verbose) : verbose_(verbose) {}
  void verbose(const std::string& message) override { print("VERBOSE", message); }
  void info(const std::string& message) override {
    if (message.find("Dispatch error: ") != std::string::npos) {
      std::lock_guard lock(mutex_);
      failure_ = message.substr(message.find("Dispatch error: ") + 16);
    }
    print("INFO", message);
  }
  void warning(const std::string& message) override { print("WARNING", message); }
  void error(const std::string& message) override { print("ERROR", message); }
  analytics::LogLevel logLevel() const override { return analytics::LogLevel::Info; }
  void setLogLevel(analytics::LogLevel) override {}

  std::string failure() {
    std::lock_guard lock(mutex_);
    return failure_;
  }

 private:
  void print(const char* level, const std::string& message) {
    if (verbose_) std::fprintf(stderr, "%s: %s\n", level, message.c_str());
  }
  bool verbose_;
  std::mutex mutex_;
  std::string failure_;
};

struct SendOptions {
  std::string collector;
  std::string routeTo;
  std::string trackingId = "AN-318264-9";
  std::string hitType = "appview";
  std::string screen = "Frontpage";
  int count = 1;
  unsigned batching = 0;
  std::string compression = "none";
  std::string store;
  double timeout = 10;
  bool dryRun = false;
  bool verbose = false;
};

std::filesystem::path makeTemporaryStore() {
  std::string pattern = (std::filesystem::temp_directory_path() / "analyticsctl-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return {};
  return pattern;
}

int send(const SendOptions& options) {
  auto logger = std::make_shared<ToolLogger>(options.verbose);
  std::filesystem::path temporary;
  analytics::Analytics::Configuration configuration;
  configuration.httpsURL = options.collector;
  configuration.httpURL = options.collector;
  if (options.store.empty()) {
    temporary = makeTemporaryStore();
    if (temporary.empty()) {
      std::fprintf(stderr, "analyticsctl: cannot create a temporary store directory\n");
      return 1;
    }
    configuration.storeDirectory = temporary;
  } else {
    configuration.storeDirectory = options.store;
  }
  int result = 0;
  {
    analytics::Analytics client(configuration);
    client.setLogger(logger);
    client.setDryRun(options.dryRun);
    auto dispatcher = client.dispatcher();
    if (!dispatcher) {
      std::fprintf(stderr, "analyticsctl: the hit store could not be opened\n");
      return 1;
    }
    dispatcher->updateSettings([&](analytics::DispatchSettings& settings) {
      settings.batchingStrategy = options.batching;
      settings.compression = options.compression == "gzip"      ? analytics::Compression::Gzip
                             : options.compression == "deflate" ? analytics::Compression::Deflate
                                                                : analytics::Compression::None;
    });
    auto tracker = client.trackerWithTrackingId(options.trackingId);
    for (int i = 0; i < options.count; ++i) {
      tracker->send({{"&t", platform::Value(options.hitType)}, {"&cd", platform::Value(options.screen)}});
    }
    client.dispatch();
    auto finished = [&] { return dispatcher->isIdle() || !logger->failure().empty(); };
    bool done = platform::RunLoop::main().runUntil(
        finished, std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double>(options.timeout)));
    auto left = dispatcher->dataStore().hitCount();
    if (done && left == 0) {
      std::printf("sent %d hit(s) to %s\n", options.count, options.collector.c_str());
    } else {
      std::string reason = logger->failure().empty() ? "timed out" : logger->failure();
      std::fprintf(stderr, "analyticsctl: %lld hit(s) not delivered: %s\n", static_cast<long long>(left), reason.c_str());
      result = 1;
    }
    client.setLogger(nullptr);
  }
  if (!temporary.empty()) std::filesystem::remove_all(temporary);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Sends analytics hits to a collection endpoint."};
  app.require_subcommand(1);
  SendOptions options;
  auto* sendCommand = app.add_subcommand("send", "Queue hits and deliver them to a collector");
  sendCommand->add_option("--collector", options.collector,
                          "Collection endpoint URL, e.g. http://127.0.0.1:8080/collect");
  sendCommand->add_option("--route-to", options.routeTo,
                          "Send the built-in endpoints' requests to this local server (keeping their Host header)");
  sendCommand->add_option("--tid", options.trackingId, "Tracking id");
  sendCommand->add_option("--type", options.hitType, "Hit type (&t)");
  sendCommand->add_option("--screen", options.screen, "Screen name (&cd)");
  sendCommand->add_option("--count", options.count, "Number of hits")->check(CLI::Range(1, 2000));
  sendCommand->add_option("--batching", options.batching, "Batching strategy 0-5")->check(CLI::Range(0, 5));
  sendCommand->add_option("--compression", options.compression, "none, gzip or deflate")
      ->check(CLI::IsMember({"none", "gzip", "deflate"}));
  sendCommand->add_option("--store", options.store, "Directory of the hit store (default: a temporary one)");
  sendCommand->add_option("--timeout", options.timeout, "Seconds to wait for delivery")->check(CLI::PositiveNumber);
  sendCommand->add_flag("--dry-run", options.dryRun, "Answer 200 without sending");
  sendCommand->add_flag("-v,--verbose", options.verbose, "Print the client's messages");
  CLI11_PARSE(app, argc, argv);
  if (!options.routeTo.empty()) {
    try {
      platform::ServiceRouting::shared().routeTo(options.routeTo);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "analyticsctl: --route-to: %s\n", e.what());
      return 2;
    }
    if (options.collector.empty()) options.collector = analytics::kSecureCollectURL;
  }
  if (options.collector.empty()) {
    std::fprintf(stderr, "analyticsctl: send needs --collector URL (or --route-to URL)\n");
    return 2;
  }
  if (options.collector.rfind("http://", 0) != 0 && options.collector.rfind("https://", 0) != 0) {
    std::fprintf(stderr, "analyticsctl: --collector must be an http:// or https:// URL\n");
    return 2;
  }
  return send(options);
}
