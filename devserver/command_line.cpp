#include "command_line.hpp"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace devserver {
namespace {

constexpr const char* kDescription =
    "devserver: plays the publisher's sites, the backend service, the analytics collector and the\n"
    "push gateway on one local port, telling them apart by the Host header.";

constexpr const char* kFooter =
    "The first line printed is \"listening on http://HOST:PORT\". Stop with SIGINT or SIGTERM.\n"
    "GET /_admin/ on the server's own address lists the inspection and fault-injection endpoints;\n"
    "they answer only to this machine.\n"
    "Backend objects, users, sessions and files persist in the data folder. The analytics hits,\n"
    "the publisher's sites, push registrations and queues, fault rules and the request log are\n"
    "kept in memory only and are gone when the server stops.\n";

std::pair<std::string, std::string> splitApplication(const std::string& value) {
  auto colon = value.find(':');
  return {value.substr(0, colon), value.substr(colon + 1)};
}

const CLI::Validator kApplicationValidator(
    [](std::string& value) -> std::string {
      auto colon = value.find(':');
      if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) {
        return "--app needs ID:KEY (an application id and its client key)";
      }
      return "";
    },
    "ID:KEY");

// Unsigned options would otherwise take "-1" and wrap around.
const CLI::Validator kWholeNumber(
    [](std::string& value) -> std::string {
      bool digits = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
      return digits ? "" : "needs a non-negative whole number";
    },
    "N");

void defineOptions(CLI::App& app, CommandLine& line, std::vector<std::string>& applications) {
  Server::Options& options = line.options;
  app.add_option("--host", options.host, "address to listen on (default 127.0.0.1)")->option_text("ADDRESS");
  app.add_option("--port", options.port, "port to listen on; 0 picks a free one (default 0)")
      ->check(CLI::Range(0, 65535))
      ->option_text("N");
  app.add_option("--data", options.dataDir, "folder for persistent data (default: a fresh temporary folder)")
      ->option_text("DIR");
  app.add_option("--seed", options.seed, "seed of the generated site content (default 1)")
      ->check(kWholeNumber)
      ->option_text("N");
  app.add_flag("--quiet", options.quiet, "do not log each request on stderr");
  app.add_option("--app", applications, "accept another backend application (repeatable)")
      ->check(kApplicationValidator)
      ->option_text("ID:KEY")
      ->allow_extra_args(false);
  app.add_option("--signature-window", options.signatureWindowSeconds,
                 "seconds a signed request's oauth_timestamp may be off the server's clock (default 900)")
      ->check(CLI::Range(1, 400000000))
      ->option_text("S");
  app.set_version_flag("--version", versionText());
  app.footer(kFooter);
}

}  // namespace

std::string versionText() { return std::string("devserver ") + VV_VERSION; }

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  line.options.quiet = false;
  std::vector<std::string> applications;
  CLI::App app{kDescription, "devserver"};
  defineOptions(app, line, applications);
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());  // CLI11 takes them last first
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    line.help = true;
    line.text = app.help();
  } catch (const CLI::CallForVersion&) {
    line.version = true;
    line.text = versionText() + "\n";
  } catch (const CLI::ParseError& error) {
    line.error = error.what();
  }
  for (const auto& application : applications) line.options.applications.push_back(splitApplication(application));
  return line;
}

}  // namespace devserver
