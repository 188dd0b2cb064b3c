#pragma once

#include <string>
#include <vector>

#include "devserver/server.hpp"

namespace devserver {

// What the command line asks for: run with `options`, or print `text`
// (help or version) and stop, or stop with `error` as misuse.
struct CommandLine {
  Server::Options options;
  bool help = false;
  bool version = false;
  std::string text;   // the help or version text to print
  std::string error;  // set when the arguments are unusable
};

// Parses the arguments after the program name (see usage in --help); each
// option with a value also takes the form --name=value.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

// The version the program reports.
std::string versionText();

}  // namespace devserver
