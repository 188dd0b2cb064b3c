// How newsreader picks its mode: the terminal runs in newsreader itself; a
// named display hands over to newsreader-window, which still falls back to
// the terminal when the display cannot be opened.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devserver/server.hpp"
#include "support/newsreader_process.hpp"
#include "support/scratch_directory.hpp"

namespace {

namespace fs = std::filesystem;

// The program image a running child has now.
std::string programOf(const test_support::NewsreaderProcess& process) {
  std::error_code error;
  return fs::read_symlink("/proc/" + std::to_string(process.pid()) + "/exe", error).filename().string();
}

class NewsreaderLaunch : public ::testing::Test {
 protected:
  void SetUp() override { server_.start(); }
  void TearDown() override { server_.stop(); }

  test_support::NewsreaderProcess start(std::vector<std::string> arguments,
                                        const test_support::NewsreaderProcess::Environment& environment) {
    arguments.insert(arguments.end(), {"--services", server_.baseUrl(), "--data-dir", dataDir_.path().string()});
    return test_support::NewsreaderProcess(NEWSREADER_PATH, arguments, environment);
  }

  devserver::Server server_{devserver::Server::Options{}};
  test_support::ScratchDirectory dataDir_;
};

TEST_F(NewsreaderLaunch, HeadlessOrWithoutADisplayTheTerminalRunsInNewsreaderItself) {
  for (const auto& [arguments, environment] :
       {std::pair<std::vector<std::string>, test_support::NewsreaderProcess::Environment>{
            {"--headless"}, {{"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", std::nullopt}}},
        {{}, {{"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}}}}) {
    auto reader = start(arguments, environment);
    ASSERT_TRUE(reader.waitForText("ready")) << reader.output();
    EXPECT_EQ(programOf(reader), "newsreader");
    EXPECT_EQ(reader.closeInputAndWait(), 0);
  }
}

TEST_F(NewsreaderLaunch, ANamedDisplayHandsOverToTheWindowProgramWhichFallsBackWhenItCannotOpen) {
  // No X server answers on display 97; the window program finds that out.
  // GTK's start leaves fontconfig caches that no suppression can name, so the
  // window program is not leak-checked here, as in the window tests.
  auto reader = start({}, {{"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", std::nullopt}, {"ASAN_OPTIONS", "detect_leaks=0"}});
  ASSERT_TRUE(reader.waitForText("ready")) << reader.output();
  EXPECT_EQ(programOf(reader), "newsreader-window");
  ASSERT_TRUE(reader.send("screens"));
  EXPECT_TRUE(reader.waitForText("kNavBarVestavind"));
  EXPECT_EQ(reader.closeInputAndWait(), 0);
}

}  // namespace
