#include "command_line.hpp"

#include <gtest/gtest.h>

namespace devserver {
namespace {

TEST(CommandLine, DefaultsAndEveryOptionInBothForms) {
  CommandLine defaults = parseCommandLine({});
  EXPECT_EQ(defaults.error, "");
  EXPECT_EQ(defaults.options.host, "127.0.0.1");
  EXPECT_EQ(defaults.options.port, 0);
  EXPECT_FALSE(defaults.options.quiet);

  CommandLine line = parseCommandLine({"--host", "0.0.0.0", "--port=8080", "--data", "/tmp/d", "--seed=42",
                                       "--quiet", "--app", "id1:key1", "--app=id2:k:2"});
  EXPECT_EQ(line.error, "");
  EXPECT_EQ(line.options.host, "0.0.0.0");
  EXPECT_EQ(line.options.port, 8080);
  EXPECT_EQ(line.options.dataDir, "/tmp/d");
  EXPECT_EQ(line.options.seed, 42u);
  EXPECT_TRUE(line.options.quiet);
  ASSERT_EQ(line.options.applications.size(), 2u);
  EXPECT_EQ(line.options.applications[1], (std::pair<std::string, std::string>{"id2", "k:2"}));
  EXPECT_TRUE(parseCommandLine({"--help"}).help);
}

TEST(CommandLine, MisuseIsExplained) {
  EXPECT_EQ(parseCommandLine({"--port", "70000"}).error, "--port needs a number from 0 to 65535");
  EXPECT_EQ(parseCommandLine({"--port", "8x"}).error, "--port needs a number from 0 to 65535");
  EXPECT_EQ(parseCommandLine({"--seed=-1"}).error, "--seed needs a non-negative whole number");
  EXPECT_EQ(parseCommandLine({"--app", "nocolon"}).error, "--app needs APPLICATION_ID:CLIENT_KEY");
  EXPECT_EQ(parseCommandLine({"--app=:k"}).error, "--app needs APPLICATION_ID:CLIENT_KEY");
  EXPECT_EQ(parseCommandLine({"--port"}).error, "--port needs a value");
  EXPECT_EQ(parseCommandLine({"--bogus"}).error, "unknown option --bogus");
  EXPECT_EQ(parseCommandLine({"stray"}).error, "unexpected argument stray");
}

}  // namespace
}  // namespace devserver
