// Every client-side program answers --version with the bundle's version and
// a command line it cannot parse with the misuse status.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "platform/exit_status.hpp"

namespace {

struct Outcome {
  int status = -1;
  std::string output;  // stdout and stderr
};

Outcome run(const std::string& commandLine) {
  Outcome outcome;
  FILE* pipe = ::popen((commandLine + " 2>&1 </dev/null").c_str(), "r");
  if (!pipe) return outcome;
  char buffer[4096];
  for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) outcome.output.append(buffer, read);
  const int status = ::pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

TEST(CommandLine, EveryProgramPrintsItsVersionAndExitsTwoOnMisuse) {
  for (const std::string program : {BACKENDCTL_PATH, ANALYTICSCTL_PATH, NEWSREADER_PATH}) {
    const std::string name = program.substr(program.rfind('/') + 1);
    const Outcome version = run(program + " --version");
    EXPECT_EQ(version.status, platform::exit_status::kSuccess) << name;
    EXPECT_EQ(version.output, name + " 1.0.0\n");
    const Outcome misuse = run(program + " --no-such-option");
    EXPECT_EQ(misuse.status, platform::exit_status::kMisuse) << name << ": " << misuse.output;
    EXPECT_NE(misuse.output.find("--help"), std::string::npos) << name << ": " << misuse.output;
  }
}

}  // namespace
