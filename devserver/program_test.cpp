#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace devserver {
namespace {

struct Outcome {
  int exitCode = -1;
  std::string output;  // stdout and stderr
};

// Runs the devserver program with `arguments` (which must end it by themselves).
Outcome runProgram(const std::string& arguments) {
  Outcome outcome;
  FILE* pipe = popen((std::string(DEVSERVER_PATH) + " " + arguments + " 2>&1").c_str(), "r");
  if (!pipe) return outcome;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) outcome.output.append(buffer, got);
  int status = pclose(pipe);
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

TEST(Program, ExitCodesTellSuccessFailureAndMisuseApart) {
  Outcome version = runProgram("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.output, "devserver 1.0.0\n");
  Outcome help = runProgram("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.output.find("--signature-window"), std::string::npos);

  Outcome misuse = runProgram("--port 70000");
  EXPECT_EQ(misuse.exitCode, 2);
  EXPECT_NE(misuse.output.find("try devserver --help"), std::string::npos);
  EXPECT_EQ(runProgram("--no-such-option").exitCode, 2);

  Outcome failure = runProgram("--data /dev/null/cannot --quiet");
  EXPECT_EQ(failure.exitCode, 1);
  EXPECT_NE(failure.output.find("cannot use data folder"), std::string::npos);
}

}  // namespace
}  // namespace devserver
