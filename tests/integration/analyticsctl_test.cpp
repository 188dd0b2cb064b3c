// analyticsctl end to end: the real program against the collector of a
// devserver in this process.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/http_get.hpp"
#include "devserver/server.hpp"
#include "platform/json.hpp"
#include "support/program_run.hpp"

namespace {

class AnalyticsctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("analyticsctl-test-" + std::to_string(::getpid()) + "-" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    server_.start();
  }
  void TearDown() override {
    server_.stop();
    std::filesystem::remove_all(dir_);
  }

  test_support::ProgramRun send(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {ANALYTICSCTL_PATH, "send"});
    return test_support::runProgram(std::move(arguments), dir_);
  }

  std::size_t collectedHits() {
    const auto answer = app::httpGet(server_.baseUrl() + "/_admin/hits");
    if (!answer) return 0;
    const auto parsed = platform::json::parse(answer->body);
    const platform::Array* hits = parsed ? parsed.value()["hits"].array() : nullptr;
    return hits ? hits->size() : 0;
  }

  std::filesystem::path dir_;
  devserver::Server server_{devserver::Server::Options{}};
};

TEST_F(AnalyticsctlTest, DeliversEveryHitToTheRoutedEndpoint) {
  auto run = send({"--route-to", server_.baseUrl(), "--count", "3"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("queued 3 of 3 hit(s); delivered 3 to https://ssl.analytics.test/collect"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(collectedHits(), 3u);
}

TEST_F(AnalyticsctlTest, SaysWhatTheRateLimitDroppedAndFails) {
  auto run = send({"--route-to", server_.baseUrl(), "--count", "61", "--batching", "1"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.out.find("queued 60 of 61 hit(s) (1 dropped by the tracker's rate limit); delivered 60"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.err.find("1 hit(s) not sent"), std::string::npos) << run.err;
  EXPECT_EQ(collectedHits(), 60u);
}

TEST_F(AnalyticsctlTest, AnUnreachableCollectorKeepsTheHitsAndFails) {
  auto run = send({"--collector", "http://127.0.0.1:1/collect", "--timeout", "20"});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.out.find("queued 1 of 1 hit(s); delivered 0"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("1 hit(s) not delivered"), std::string::npos) << run.err;
}

TEST_F(AnalyticsctlTest, RefusesBadInputWithExitTwo) {
  const std::string collector = server_.baseUrl() + "/collect";
  for (const auto& arguments : std::vector<std::vector<std::string>>{{"--collector", collector, "--tid", "  "},
                                                                    {"--collector", collector, "--type", ""},
                                                                    {"--collector", collector, "--count", "0"},
                                                                    {"--collector", "ftp://x/collect"},
                                                                    {"--no-such-option"},
                                                                    {}}) {
    auto run = send(arguments);
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_FALSE(run.err.empty());
  }
  EXPECT_NE(send({"--collector", collector, "--tid", " "}).err.find("--tid must not be blank"), std::string::npos);
  EXPECT_EQ(collectedHits(), 0u);
}

}  // namespace
