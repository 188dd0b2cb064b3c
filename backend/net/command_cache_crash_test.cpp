#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <thread>

#include "support/backend/command_cache_fixture.hpp"
#include "support/eventually.hpp"

extern char** environ;

namespace backend::net {
namespace {

using testing::QueueTest;

// Runs the helper on `directory`, kills it (SIGKILL) once it has reported
// `stores` stored commands, and returns every number it reported.
std::vector<int> storeUntilKilled(const std::filesystem::path& directory, int stores) {
  int out[2];
  EXPECT_EQ(::pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string helper = COMMAND_CACHE_CRASH_HELPER;
  std::string dir = directory.string();
  char* argv[] = {helper.data(), dir.data(), nullptr};
  pid_t pid = 0;
  EXPECT_EQ(posix_spawn(&pid, helper.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);

  std::string text;
  char buffer[256];
  bool killed = false;
  for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(got));
    if (!killed && std::count(text.begin(), text.end(), '\n') >= stores) {
      ::kill(pid, SIGKILL);
      killed = true;
    }
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  std::vector<int> reported;
  std::istringstream lines(text.substr(0, text.rfind('\n') + 1));
  for (int n; lines >> n;) reported.push_back(n);
  return reported;
}

using CommandCacheCrashTest = QueueTest;

TEST_F(CommandCacheCrashTest, EveryStoreThatReturnedBeforeAKillIsSentExactlyOnce) {
  auto reported = storeUntilKilled(queueDirectory(), 40);
  ASSERT_GE(reported.size(), 40u);

  auto& queue = makeQueue();
  ASSERT_TRUE(test_support::eventually([&] { return queue.pendingCount() == 0; }));

  std::map<long long, int> sent;
  auto stored = objects("QueueNote");
  for (const auto& object : *stored.array()) ++sent[object["n"].longLongValue()];
  for (int n : reported) EXPECT_EQ(sent[n], 1) << "command " << n;
  // At most the store cut short by the kill went out besides them, once.
  for (const auto& [n, times] : sent) {
    EXPECT_EQ(times, 1) << "command " << n;
    EXPECT_LE(n, reported.back() + 1);
  }
  EXPECT_TRUE(std::filesystem::is_empty(queueDirectory()));
}

}  // namespace
}  // namespace backend::net
