#include "command_line.hpp"

#include <charconv>

namespace devserver {
namespace {

template <typename Number>
bool parseNumber(const std::string& text, Number& value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Applies one option with its value; returns an error text or "".
std::string applyOption(const std::string& name, const std::string& value, CommandLine& line) {
  Server::Options& options = line.options;
  if (name == "--host") {
    if (value.empty()) return "--host needs an address";
    options.host = value;
  } else if (name == "--port") {
    int port = 0;
    if (!parseNumber(value, port) || port < 0 || port > 65535) return "--port needs a number from 0 to 65535";
    options.port = port;
  } else if (name == "--data") {
    if (value.empty()) return "--data needs a folder";
    options.dataDir = value;
  } else if (name == "--seed") {
    if (!parseNumber(value, options.seed)) return "--seed needs a non-negative whole number";
  } else if (name == "--app") {
    auto colon = value.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) {
      return "--app needs APPLICATION_ID:CLIENT_KEY";
    }
    options.applications.emplace_back(value.substr(0, colon), value.substr(colon + 1));
  } else {
    return "unknown option " + name;
  }
  return "";
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  line.options.quiet = false;
  for (std::size_t i = 0; i < arguments.size() && line.error.empty(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      line.help = true;
    } else if (argument == "--quiet") {
      line.options.quiet = true;
    } else if (argument.rfind("--", 0) != 0) {
      line.error = "unexpected argument " + argument;
    } else if (auto equals = argument.find('='); equals != std::string::npos) {
      line.error = applyOption(argument.substr(0, equals), argument.substr(equals + 1), line);
    } else if (i + 1 < arguments.size()) {
      line.error = applyOption(argument, arguments[i + 1], line);
      ++i;
    } else {
      line.error = argument == "--host" || argument == "--port" || argument == "--data" || argument == "--seed" ||
                           argument == "--app"
                       ? argument + " needs a value"
                       : "unknown option " + argument;
    }
  }
  return line;
}

std::string usageText() {
  return "usage: devserver [--host 127.0.0.1] [--port 0] [--data DIR] [--seed N] [--quiet] [--app ID:KEY]...\n"
         "\n"
         "Plays the publisher's sites, the backend service, the analytics collector and the\n"
         "push gateway on one local port, telling them apart by the Host header.\n"
         "\n"
         "  --host ADDRESS  address to listen on (default 127.0.0.1)\n"
         "  --port N        port to listen on; 0 picks a free one (default 0)\n"
         "  --data DIR      folder for persistent data (default: a fresh temporary folder)\n"
         "  --seed N        seed of the generated site content (default 1)\n"
         "  --quiet         do not log each request on stderr\n"
         "  --app ID:KEY    accept another backend application (repeatable)\n"
         "  --help          show this text\n"
         "\n"
         "The first line printed is \"listening on http://HOST:PORT\". Stop with SIGINT or SIGTERM.\n"
         "GET /_admin/ on any host lists the inspection and fault-injection endpoints.\n";
}

}  // namespace devserver
