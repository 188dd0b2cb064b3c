// backendctl: sends one backend command from the command line and prints the
// answer's "result" as compact JSON (exit 0) or the error as JSON on stderr
// (exit 1). Usage mistakes exit 2.
//   backendctl --server http://127.0.0.1:8080 call find '{"classname":"Story"}' --runner cached --policy 3

#include <CLI/CLI.hpp>

#include <cstdio>
#include <future>
#include <optional>
#include <string>

#include "backend/internal_utils.hpp"
#include "backend/net/backend.hpp"
#include "backend/net/command_runners.hpp"
#include "platform/exceptions.hpp"
#include "platform/sandbox.hpp"

namespace {

// The reader's own backend credentials.
constexpr const char* kReaderApplicationId = "Qx7mTfa2Lr9WcYh3NbVe8KpZs1DuGo6JiRl4MwEn";
constexpr const char* kReaderClientKey = "Hc2vRk8TyBn5WqLm3ZxAe7JfUd9GsPo1KiNt6VaY";

struct Options {
  std::string server = backend::kDefaultServer;
  std::string applicationId = kReaderApplicationId;
  std::string clientKey = kReaderClientKey;
  std::string dataDir;
  std::string sessionToken;
  std::optional<double> initialDelay;
  std::string operation;
  std::string params = "{}";
  std::string runner = "retrying";
  int policy = backend::net::kCachePolicyIgnoreCache;
  double maxAge = 3600;
};

std::string toJSON(const platform::Value& value) {
  return backend::InternalUtils::serializeToJSON(backend::InternalUtils::encodeObject(
      value, backend::UnsavedChildren::Allow, backend::DataObjects::Allow));
}

int printError(const platform::Error& error) {
  platform::Dictionary out;
  out.set("domain", error.domain);
  out.set("code", static_cast<long long>(error.code));
  out.set("error", error.message());
  if (auto* info = error.userInfo.dictionary()) {
    for (const auto& [key, value] : *info) {
      if (!out.contains(key)) out.set(key, value);
    }
  }
  std::fprintf(stderr, "%s\n", toJSON(platform::Value(std::move(out))).c_str());
  return 1;
}

backend::Task<backend::net::CommandResult> run(const Options& options, const backend::net::CommandPtr& command) {
  using namespace backend::net;
  if (options.runner == "network") return NetworkCommandRunner::runCommandAsync(command);
  if (options.runner == "cached") return CachedCommandRunner::runCommandAsync(command, options.policy, options.maxAge);
  return RetryingCommandRunner::runCommandAsync(command);
}

int call(const Options& options) {
  auto params = backend::InternalUtils::decodeObject(backend::InternalUtils::parseJSON(options.params));
  if (!params.isDictionary()) {
    std::fprintf(stderr, "backendctl: PARAMS_JSON must be a JSON object\n");
    return 2;
  }
  if (!options.dataDir.empty()) platform::Sandbox::setRoot(options.dataDir);
  backend::InternalUtils::setServer(options.server);
  backend::net::Backend::setApplicationId(options.applicationId, options.clientKey);
  if (options.initialDelay) backend::net::RetryingCommandRunner::setInitialDelay(*options.initialDelay);
  std::optional<std::string> token;
  if (!options.sessionToken.empty()) token = options.sessionToken;
  auto command = backend::net::Command::commandWithServerOperation(options.operation, params, token);

  // Waiting on a future keeps the main-thread warning of blocking waits out.
  std::promise<backend::Task<backend::net::CommandResult>> finished;
  run(options, command).continueWith([&](const backend::Task<backend::net::CommandResult>& task) {
    finished.set_value(task);
  });
  auto task = finished.get_future().get();
  if (auto exception = task.exception()) std::rethrow_exception(exception);
  if (task.isCancelled()) {
    std::fprintf(stderr, "{\"error\":\"cancelled\"}\n");
    return 1;
  }
  if (auto error = task.error()) return printError(*error);
  std::printf("%s\n", toJSON(task.result().result).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  CLI::App app{"backendctl: send one command to the backend service and print its result.\n"
               "Exit status: 0 success (result JSON on stdout), 1 failure (error JSON on stderr: domain, code,\n"
               "error and the error's user info), 2 usage errors."};
  app.add_option("--server", options.server, "backend service address (the API version path is added)")
      ->capture_default_str();
  app.add_option("--app-id", options.applicationId, "application id (also the signature's consumer key)");
  app.add_option("--client-key", options.clientKey, "client key (also the signature's consumer secret)");
  app.add_option("--data-dir", options.dataDir, "sandbox root for the installation id and the caches");
  app.add_option("--session-token", options.sessionToken, "sent as \"session_token\" when the params lack one");
  app.add_option("--initial-delay", options.initialDelay, "first retry pause in seconds (retrying runner)");
  auto* callCommand = app.add_subcommand("call", "run one server operation");
  callCommand->add_option("OPERATION", options.operation, "server operation, e.g. find, get, create")->required();
  callCommand->add_option("PARAMS_JSON", options.params, "parameters as a JSON object")->capture_default_str();
  callCommand->add_option("--runner", options.runner, "network (once), retrying (up to 5 attempts) or cached")
      ->check(CLI::IsMember({"network", "retrying", "cached"}))
      ->capture_default_str();
  callCommand->add_option("--policy", options.policy,
                          "cache policy for the cached runner: 0 ignore cache, 1 cache only, 2 network only, "
                          "3 cache else network, 4 network else cache")
      ->check(CLI::Range(0, 4))
      ->capture_default_str();
  callCommand->add_option("--max-age", options.maxAge, "largest age in seconds of a cached answer")
      ->capture_default_str();
  app.require_subcommand(1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }
  try {
    return call(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "backendctl: %s\n", e.what());
    return 2;
  }
}
