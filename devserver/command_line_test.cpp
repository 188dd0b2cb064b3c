#include "command_line.hpp"

#include <gtest/gtest.h>

namespace devserver {
namespace {

TEST(CommandLine, DefaultsAndEveryOptionInBothForms) {
  CommandLine defaults = parseCommandLine({});
  EXPECT_EQ(defaults.error, "");
  EXPECT_EQ(defaults.options.host, "127.0.0.1");
  EXPECT_EQ(defaults.options.port, 0);
  EXPECT_EQ(defaults.options.signatureWindowSeconds, 900);
  EXPECT_FALSE(defaults.options.quiet);

  CommandLine line = parseCommandLine({"--host", "0.0.0.0", "--port=8080", "--data", "/tmp/d", "--seed=42", "--quiet",
                                       "--app", "id1:key1", "--app=id2:k:2", "--signature-window", "60"});
  EXPECT_EQ(line.error, "");
  EXPECT_EQ(line.options.host, "0.0.0.0");
  EXPECT_EQ(line.options.port, 8080);
  EXPECT_EQ(line.options.dataDir, "/tmp/d");
  EXPECT_EQ(line.options.seed, 42u);
  EXPECT_TRUE(line.options.quiet);
  EXPECT_EQ(line.options.signatureWindowSeconds, 60);
  ASSERT_EQ(line.options.applications.size(), 2u);
  EXPECT_EQ(line.options.applications[1], (std::pair<std::string, std::string>{"id2", "k:2"}));
}

TEST(CommandLine, MisuseIsExplained) {
  for (const std::vector<std::string>& misuse :
       {std::vector<std::string>{"--port", "70000"}, {"--port", "8x"}, {"--seed=-1"}, {"--app", "nocolon"},
        {"--app=:k"}, {"--port"}, {"--bogus"}, {"stray"}, {"--signature-window", "0"}}) {
    CommandLine line = parseCommandLine(misuse);
    EXPECT_NE(line.error, "") << misuse[0];
    EXPECT_FALSE(line.help);
  }
  EXPECT_NE(parseCommandLine({"--app", "nocolon"}).error.find("ID:KEY"), std::string::npos);
}

}  // namespace
}  // namespace devserver
