#include "platform/log.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <thread>

namespace platform {
namespace {

// Sends stderr into a pipe for the life of the object, then reads it back.
class StderrCapture {
 public:
  StderrCapture() {
    EXPECT_EQ(::pipe(pipe_), 0);
    saved_ = ::dup(STDERR_FILENO);
    ::dup2(pipe_[1], STDERR_FILENO);
    ::close(pipe_[1]);
  }
  ~StderrCapture() { restore(); }

  // Restores stderr and answers what was written (pipe capacity suffices).
  std::string finish() {
    restore();
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipe_[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  int pipe_[2] = {-1, -1};
  int saved_ = -1;
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Log, CaptureSeesMessagesAndRestoresThePreviousSink) {
  std::vector<std::string> outer;
  LogSink previous = setLogSink([&](std::string_view m) { outer.emplace_back(m); });
  {
    LogCapture capture;
    log("inside");
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"inside"});
    EXPECT_TRUE(capture.contains("sid"));
  }
  log("after");
  setLogSink(std::move(previous));
  EXPECT_EQ(outer, std::vector<std::string>{"after"});
}

TEST(Log, StderrLinesCarryAPrefixAndCannotBeForged) {
  StderrCapture err;
  log("first\nFAKE 2000-01-01 line\x1b[31m");
  std::string text = err.finish();
  auto lines = splitLines(text);
  ASSERT_EQ(lines.size(), 2u) << text;
  EXPECT_NE(lines[0].find("[" + std::to_string(::getpid()) + ":"), std::string::npos);
  EXPECT_TRUE(lines[0].ends_with("] first"));
  EXPECT_EQ(lines[1], "\tFAKE 2000-01-01 line\\x1b[31m");
}

TEST(Log, EachLineNamesTheProcessAndThreadThatWroteIt) {
  StderrCapture err;
  log("parent");
  std::string threadIds;
  std::thread([&] {
    log("thread");
    threadIds = std::to_string(::getpid()) + ":" + std::to_string(::gettid());
  }).join();
  const pid_t child = ::fork();
  if (child == 0) {
    log("child");
    ::_exit(0);
  }
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  auto lines = splitLines(err.finish());
  ASSERT_EQ(lines.size(), 3u);
  const auto ids = [](const std::string& line) {
    const auto open = line.find('[');
    return line.substr(open + 1, line.find(']') - open - 1);
  };
  EXPECT_EQ(ids(lines[0]), std::to_string(::getpid()) + ":" + std::to_string(::gettid()));
  EXPECT_EQ(ids(lines[1]), threadIds);
  // The forking thread is the child's only thread: its id is the child's.
  EXPECT_EQ(ids(lines[2]), std::to_string(child) + ":" + std::to_string(child));
}

TEST(Log, ConcurrentMessagesNeverInterleave) {
  constexpr int kThreads = 4, kPerThread = 100;
  StderrCapture err;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i) log("thread " + std::to_string(t) + " message " + std::to_string(i) + " end");
    });
  }
  for (auto& thread : threads) thread.join();
  auto lines = splitLines(err.finish());
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kPerThread));
  std::set<std::string> messages;
  for (const auto& line : lines) {
    ASSERT_TRUE(line.ends_with(" end")) << line;
    messages.insert(line.substr(line.find("] ") + 2));
  }
  EXPECT_EQ(messages.size(), lines.size());
}

}  // namespace
}  // namespace platform
