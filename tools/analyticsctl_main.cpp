// analyticsctl: sends analytics hits to a collector from the command line.
//   analyticsctl send --collector http://127.0.0.1:8080/collect --count 3
//   analyticsctl send --route-to http://127.0.0.1:8080   (the built-in endpoint, routed)
// It says how many hits the tracker queued (its rate limit lets 60 through at
// once, then one every 2 seconds) and how many the collector received. Exit
// 0 when every hit asked for was delivered, 1 when some were not, 2 on misuse.

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "analytics/analytics.hpp"
#include "batching_dispatcher.hpp"
#include "platform/command_line.hpp"
#include "platform/curl_setup.hpp"
#include "platform/run_loop.hpp"
#include "platform/service_routing.hpp"
#include "string_util.hpp"

namespace {

using namespace platform::exit_status;

// Prints the client's messages when asked.
class ToolLogger final : public analytics::Logger {
 public:
  explicit ToolLogger(bool verbose) : verbose_(verbose) {}
  void verbose(const std::string& message) override { print("VERBOSE", message); }
  void info(const std::string& message) override { print("INFO", message); }
  void warning(const std::string& message) override { print("WARNING", message); }
  void error(const std::string& message) override { print("ERROR", message); }
  analytics::LogLevel logLevel() const override {
    return verbose_ ? analytics::LogLevel::Verbose : analytics::LogLevel::None;
  }
  void setLogLevel(analytics::LogLevel) override {}

 private:
  void print(const char* level, const std::string& message) {
    if (verbose_) std::fprintf(stderr, "%s: %s\n", level, message.c_str());
  }
  bool verbose_;
};

// What the dispatcher reported, written on the analytics thread.
class Tally {
 public:
  analytics::DispatchObserver observer() {
    return {[this](bool stored) {
              std::lock_guard lock(mutex_);
              (stored ? stored_ : unstored_) += 1;
            },
            [this](const analytics::ExchangeOutcome& outcome) {
              std::lock_guard lock(mutex_);
              if (outcome.status >= 0) {
                delivered_ += outcome.hits;
              } else {
                failure_ = outcome.error ? outcome.error->description() : "no answer from the collector";
              }
            }};
  }
  int stored() { return read(stored_); }
  int unstored() { return read(unstored_); }
  std::size_t delivered() { return read(delivered_); }
  std::optional<std::string> failure() { return read(failure_); }

 private:
  template <class T>
  T read(const T& field) {
    std::lock_guard lock(mutex_);
    return field;
  }
  std::mutex mutex_;
  int stored_ = 0;
  int unstored_ = 0;
  std::size_t delivered_ = 0;
  std::optional<std::string> failure_;
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

analytics::Compression compressionNamed(const std::string& name) {
  if (name == "gzip") return analytics::Compression::Gzip;
  if (name == "deflate") return analytics::Compression::Deflate;
  return analytics::Compression::None;
}

// Queues the hits through a tracker and waits for their delivery.
int deliver(analytics::Analytics& client, const SendOptions& options) {
  auto dispatcher = client.dispatcher();
  if (!dispatcher) {
    std::fprintf(stderr, "analyticsctl: the hit store could not be opened\n");
    return kFailure;
  }
  Tally tally;
  dispatcher->setObserver(tally.observer());
  dispatcher->updateSettings([&](analytics::DispatchSettings& settings) {
    settings.batchingStrategy = options.batching;
    settings.compression = compressionNamed(options.compression);
  });
  auto tracker = client.trackerWithTrackingId(options.trackingId);
  if (!tracker) {
    std::fprintf(stderr, "analyticsctl: no tracker could be made for \"%s\"\n", options.trackingId.c_str());
    return kFailure;
  }
  for (int i = 0; i < options.count; ++i) {
    tracker->send({{"&t", platform::Value(options.hitType)}, {"&cd", platform::Value(options.screen)}});
  }
  // Counted on the analytics thread after every queued hit was stored.
  const std::int64_t pending = dispatcher->dataStore().hitCount();
  client.dispatch();
  auto finished = [&] {
    return tally.failure() || static_cast<std::int64_t>(tally.delivered()) >= pending || dispatcher->isIdle();
  };
  platform::RunLoop::main().runUntil(
      finished, std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double>(options.timeout)));

  const int queued = tally.stored();
  const int dropped = options.count - queued - tally.unstored();
  std::printf("queued %d of %d hit(s)", queued, options.count);
  if (dropped > 0) std::printf(" (%d dropped by the tracker's rate limit)", dropped);
  std::printf("; delivered %zu to %s\n", tally.delivered(), options.collector.c_str());

  int result = 0;
  if (dropped > 0) {
    std::fprintf(stderr,
                 "analyticsctl: %d hit(s) not sent: a tracker passes 60 hits at once, then one every 2 seconds\n",
                 dropped);
    result = kFailure;
  }
  if (tally.unstored() > 0) {
    std::fprintf(stderr, "analyticsctl: %d hit(s) could not be stored\n", tally.unstored());
    result = kFailure;
  }
  const std::int64_t left = dispatcher->dataStore().hitCount();
  if (left != 0) {
    std::string reason = tally.failure().value_or("timed out");
    std::fprintf(stderr, "analyticsctl: %lld hit(s) not delivered: %s\n", static_cast<long long>(left),
                 reason.c_str());
    result = kFailure;
  }
  return result;
}

int send(const SendOptions& options) {
  std::filesystem::path temporary;
  analytics::Analytics::Configuration configuration;
  configuration.httpsURL = options.collector;
  configuration.httpURL = options.collector;
  if (options.store.empty()) {
    temporary = makeTemporaryStore();
    if (temporary.empty()) {
      std::fprintf(stderr, "analyticsctl: cannot create a temporary store directory\n");
      return kFailure;
    }
    configuration.storeDirectory = temporary;
  } else {
    configuration.storeDirectory = options.store;
  }
  int result = 0;
  {
    analytics::Analytics client(configuration);
    client.setLogger(std::make_shared<ToolLogger>(options.verbose));
    client.setDryRun(options.dryRun);
    result = deliver(client, options);
    client.setLogger(nullptr);
  }
  if (!temporary.empty()) std::filesystem::remove_all(temporary);
  return result;
}

// A usage mistake the parser cannot see; nullopt when the options are sound.
std::optional<std::string> misuse(const SendOptions& options) {
  if (analytics::StringUtil::trim(options.trackingId).empty()) return "--tid must not be blank";
  if (analytics::StringUtil::trim(options.hitType).empty()) return "--type must not be blank";
  if (options.collector.empty()) return "send needs --collector URL (or --route-to URL)";
  if (options.collector.rfind("http://", 0) != 0 && options.collector.rfind("https://", 0) != 0) {
    return "--collector must be an http:// or https:// URL";
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  platform::ensureCurlSetUp();
  CLI::App app{"Sends analytics hits to a collection endpoint."};
  app.require_subcommand(1);
  SendOptions options;
  auto* sendCommand = app.add_subcommand("send", "Queue hits through a tracker and deliver them to a collector");
  sendCommand->add_option("--collector", options.collector,
                          "Collection endpoint URL, e.g. http://127.0.0.1:8080/collect");
  sendCommand->add_option("--route-to", options.routeTo,
                          "Send the built-in endpoints' requests to this local server (keeping their Host header)");
  sendCommand->add_option("--tid", options.trackingId, "Tracking id")->capture_default_str();
  sendCommand->add_option("--type", options.hitType, "Hit type (&t)")->capture_default_str();
  sendCommand->add_option("--screen", options.screen, "Screen name (&cd)")->capture_default_str();
  sendCommand->add_option("--count", options.count, "Number of hits (a tracker passes 60 at once)")
      ->check(CLI::Range(1, 2000));
  sendCommand->add_option("--batching", options.batching, "Batching strategy 0-5")->check(CLI::Range(0, 5));
  sendCommand->add_option("--compression", options.compression, "none, gzip or deflate")
      ->check(CLI::IsMember({"none", "gzip", "deflate"}));
  sendCommand->add_option("--store", options.store, "Directory of the hit store (default: a temporary one)");
  sendCommand->add_option("--timeout", options.timeout, "Seconds to wait for delivery")->check(CLI::PositiveNumber);
  sendCommand->add_flag("--dry-run", options.dryRun, "Answer 200 without sending");
  sendCommand->add_flag("-v,--verbose", options.verbose, "Print the client's messages");
  platform::addVersionFlag(app, "analyticsctl");
  if (auto status = platform::parseCommandLine(app, argc, argv)) return *status;
  if (!options.routeTo.empty()) {
    try {
      platform::ServiceRouting::shared().routeTo(options.routeTo);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "analyticsctl: --route-to: %s\n", e.what());
      return kMisuse;
    }
    if (options.collector.empty()) options.collector = analytics::kSecureCollectURL;
  }
  if (auto problem = misuse(options)) {
    std::fprintf(stderr, "analyticsctl: %s (see --help)\n", problem->c_str());
    return kMisuse;
  }
  return send(options);
}
