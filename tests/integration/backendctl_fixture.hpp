#pragma once
// The real backendctl against a devserver in this process: each run a new
// process, its output read back as JSON.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "devserver/server.hpp"
#include "platform/json.hpp"
#include "support/program_run.hpp"
#include "support/scratch_directory.hpp"

namespace test_support {

struct BackendctlOutcome {
  int status = -1;
  std::string out;
  std::string err;

  platform::Value json() const { return parsed(out); }
  // The error JSON: the last line of stderr that is JSON (log lines may
  // come before and after it).
  platform::Value errorJson() const {
    std::istringstream lines(err);
    platform::Value found;
    for (std::string line; std::getline(lines, line);) {
      if (platform::Value json = parsed(line); json.isDictionary()) found = json;
    }
    return found;
  }
  long long errorCode() const { return errorJson()["code"].longLongValue(); }

  static platform::Value parsed(const std::string& text) {
    auto result = platform::json::parse(text);
    return result ? result.value() : platform::Value();
  }
};

class BackendctlTestBase : public ::testing::Test {
 protected:
  void SetUp() override { server_.start(); }
  void TearDown() override { server_.stop(); }

  // Runs backendctl with `dataDir` (one device) against this test's
  // devserver, or against `server` when given.
  BackendctlOutcome runWith(const std::filesystem::path& dataDir, std::vector<std::string> arguments,
                            const std::string& server = "") {
    std::vector<std::string> all = {BACKENDCTL_PATH, "--server", server.empty() ? server_.baseUrl() : server,
                                    "--data-dir", dataDir.string(), "--initial-delay", "0.01"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    auto ran = runProgram(all, dir_);
    return {ran.status, ran.out, ran.err};
  }

  ScratchDirectory scratch_;
  const std::filesystem::path dir_ = scratch_.path();
  devserver::Server server_{devserver::Server::Options{}};
};

}  // namespace test_support
