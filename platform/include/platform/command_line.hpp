#pragma once
// The one way the client-side programs read their command line (CLI11):
// --help and --version print and end the program with success, and every
// parse error ends it with the misuse status.

#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "platform/bundle.hpp"
#include "platform/exit_status.hpp"

namespace platform {

// Adds --version, which prints the program's name and the bundle's version.
inline void addVersionFlag(CLI::App& app, const std::string& programName) {
  app.set_version_flag("--version", programName + " " + Bundle::application().shortVersion().value_or(""));
}

// Parses; answers the status to exit with when the program should end now
// (help, version, a parse error, with CLI11's message printed), else nullopt.
inline std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& done) {
    app.exit(done);
    return exit_status::kSuccess;
  } catch (const CLI::ParseError& error) {
    app.exit(error);
    return exit_status::kMisuse;
  }
  return std::nullopt;
}

}  // namespace platform
