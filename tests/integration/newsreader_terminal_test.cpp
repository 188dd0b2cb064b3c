// The reader's terminal mode end to end: the real program, driven through
// stdin, against the local services; what the services saw is read back
// through their inspection endpoints.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/http_get.hpp"
#include "devserver/server.hpp"
#include "platform/json.hpp"

extern char** environ;

namespace {

class Newsreader {
 public:
  Newsreader(const std::string& servicesURL, const std::filesystem::path& dataDir) {
    int input[2];
    int output[2];
    if (::pipe(input) != 0 || ::pipe(output) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    std::string program = NEWSREADER_PATH;
    std::string dir = dataDir.string();
    std::vector<char*> argv = {program.data(), const_cast<char*>("--headless"), const_cast<char*>("--services"),
                               const_cast<char*>(servicesURL.c_str()), const_cast<char*>("--data-dir"), dir.data(),
                               nullptr};
    const int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    toChild_ = input[1];
    fromChild_ = output[0];
    if (spawned != 0) throw std::runtime_error("cannot start " + program);
  }

  ~Newsreader() {
    if (toChild_ >= 0) ::close(toChild_);
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(fromChild_);
  }

  void send(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(::write(toChild_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Reads output until a line containing `text` arrives; false on timeout or end.
  bool waitFor(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find(text, searchedUpTo_) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd fd{fromChild_, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
      char chunk[4096];
      const ssize_t count = ::read(fromChild_, chunk, sizeof chunk);
      if (count <= 0) return output_.find(text, searchedUpTo_) != std::string::npos;
      output_.append(chunk, static_cast<std::size_t>(count));
    }
    searchedUpTo_ = output_.find(text, searchedUpTo_) + text.size();
    return true;
  }

  int finish() {
    ::close(toChild_);
    toChild_ = -1;
    waitFor("\x01never", std::chrono::seconds(30));  // drain until the pipe closes
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  bool exited_ = false;
  std::string output_;
  std::size_t searchedUpTo_ = 0;
};

platform::Value admin(const devserver::Server& server, const std::string& path) {
  const auto answer = app::httpGet(server.baseUrl() + path);
  if (!answer) return {};
  auto parsed = platform::json::parse(answer->body);
  return parsed ? parsed.value() : platform::Value();
}

bool sawRequest(const devserver::Server& server, const std::string& host, const std::string& path,
                std::string* appHeader = nullptr) {
  const platform::Value requests = admin(server, "/_admin/requests?host=" + host)["requests"];
  const platform::Array* list = requests.array();
  if (!list) return false;
  for (const platform::Value& request : *list) {
    if (request["path"] != platform::Value(path)) continue;
    if (appHeader) {
      const platform::Value header = request["headers"]["vestavind_mobile_app"];
      *appHeader = header.isString() ? header.asString() : "";
    }
    return true;
  }
  return false;
}

TEST(NewsreaderTerminal, BrowsesTheMenuOpensAnArticleAndRegistersTheToken) {
  devserver::Server server(devserver::Server::Options{});
  server.start();
  const auto dataDir = std::filesystem::temp_directory_path() / ("vv-newsreader-" + std::to_string(::getpid()));
  Newsreader reader(server.baseUrl(), dataDir);

  ASSERT_TRUE(reader.waitFor("ready")) << reader.output();
  EXPECT_TRUE(sawRequest(server, "www.vestavind.test", "/iosapp/menuconfig/"));
  std::string homeHeader;
  EXPECT_TRUE(sawRequest(server, "m.vestavind.test", "/", &homeHeader));
  EXPECT_FALSE(homeHeader.empty());

  reader.send("menu");
  ASSERT_TRUE(reader.waitFor("  0 ")) << reader.output();
  reader.send("select 0");
  ASSERT_TRUE(reader.waitFor("screen pushed: kNavBarVestavindSection")) << reader.output();
  ASSERT_TRUE(reader.waitFor("hit")) << reader.output();
  reader.send("screens");
  ASSERT_TRUE(reader.waitFor("  1 kNavBarVestavindSection")) << reader.output();

  reader.send("token 0a1b2c3d4e5f60ff");
  reader.send("push {\"aps\": {\"alert\": \"Ny sak\"}, \"url\": \"http://www.vestavind.test/\"}");
  ASSERT_TRUE(reader.waitFor("alert shown: tag 0 \"Vestavind\" \"Ny sak\"")) << reader.output();
  reader.send("answer 0");
  reader.send("quit");
  EXPECT_EQ(reader.finish(), 0) << reader.output();

  EXPECT_TRUE(sawRequest(server, "www.vestavind.test", "/pn/addDevice/0a1b2c3d4e5f60ff"));
  server.stop();
  std::filesystem::remove_all(dataDir);
}

}  // namespace
