#pragma once

#include <string>
#include <vector>

#include "devserver/server.hpp"

namespace devserver {

// What the command line asks for.
struct CommandLine {
  Server::Options options;
  bool help = false;
  std::string error;  // set when the arguments are unusable
};

// Parses the arguments after the program name: --host H, --port N,
// --data DIR, --seed N, --quiet, --app ID:KEY (repeatable), --help; each
// option with a value also takes the form --name=value.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The --help text.
std::string usageText();

}  // namespace devserver
