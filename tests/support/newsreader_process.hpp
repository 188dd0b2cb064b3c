#pragma once
// The newsreader program as a child process for end-to-end tests: its stdin
// and stdout are pipes, so a test types commands and reads what the reader
// prints. Header-only; shared by the window and the terminal tests.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace test_support {

class NewsreaderProcess {
 public:
  // Variables to set (a value) or to remove (nullopt) in the child's
  // environment; the rest is inherited.
  using Environment = std::map<std::string, std::optional<std::string>>;

  // Starts `program` with `arguments` (argv[0] is the program). Throws
  // std::runtime_error when the pipes or the process cannot be made.
  NewsreaderProcess(const std::string& program, const std::vector<std::string>& arguments,
                    const Environment& environment = {}) {
    int input[2];
    int output[2];
    if (::pipe(input) != 0) throw std::runtime_error("pipe");
    if (::pipe(output) != 0) {
      ::close(input[0]);
      ::close(input[1]);
      throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, input[1]);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    std::vector<std::string> argvText = {program};
    argvText.insert(argvText.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : argvText) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText = mergedEnvironment(environment);
    std::vector<char*> envp;
    for (std::string& entry : envText) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    toChild_ = input[1];
    fromChild_ = output[0];
    if (spawned != 0) {
      pid_ = -1;
      throw std::runtime_error("cannot start " + program);
    }
  }

  // Kills the child if it is still running.
  ~NewsreaderProcess() {
    if (toChild_ >= 0) ::close(toChild_);
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(fromChild_);
  }

  NewsreaderProcess(const NewsreaderProcess&) = delete;
  NewsreaderProcess& operator=(const NewsreaderProcess&) = delete;

  pid_t pid() const { return pid_; }

  // Types one line; false when the child no longer reads.
  bool send(const std::string& line) {
    if (toChild_ < 0) return false;
    const std::string text = line + "\n";
    return ::write(toChild_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }

  // Reads until a line holding `text` is complete and answers the rest of
  // that line after `text`; the next search starts on the following line.
  // nullopt on timeout or end of output.
  std::optional<std::string> waitForLine(const std::string& text,
                                         std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      const auto found = output_.find(text, searchedUpTo_);
      if (found != std::string::npos) {
        const auto end = output_.find('\n', found);
        if (end != std::string::npos) {
          searchedUpTo_ = end + 1;
          return output_.substr(found + text.size(), end - found - text.size());
        }
      }
      if (!readSome(deadline)) return std::nullopt;
    }
  }

  // Reads until `text` appears anywhere (also mid-line); the next search
  // starts right after it. False on timeout or end of output.
  bool waitForText(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
      const auto found = output_.find(text, searchedUpTo_);
      if (found != std::string::npos) {
        searchedUpTo_ = found + text.size();
        return true;
      }
      if (!readSome(deadline)) return false;
    }
  }

  // Types a window-mode command and waits for its "done" line.
  bool run(const std::string& command, std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    return send(command) && waitForLine("done " + command, timeout).has_value();
  }

  // Closes stdin and waits for the child to end: its exit status, or 128
  // plus the signal that ended it.
  int closeInputAndWait() {
    closeInput();
    return reap();
  }

  // Closes stdin, keeps reading until the child closes stdout (so nothing it
  // prints on the way out is lost, up to `drainLimit`), then waits for it.
  int closeInputDrainAndWait(std::chrono::milliseconds drainLimit = std::chrono::seconds(30)) {
    closeInput();
    const auto deadline = std::chrono::steady_clock::now() + drainLimit;
    while (readSome(deadline)) {
    }
    return reap();
  }

  // Everything the child printed so far.
  const std::string& output() const { return output_; }

 private:
  static std::vector<std::string> mergedEnvironment(const Environment& changes) {
    std::vector<std::string> merged;
    for (char** entry = environ; entry && *entry; ++entry) {
      const std::string text = *entry;
      if (changes.count(text.substr(0, text.find('='))) == 0) merged.push_back(text);
    }
    for (const auto& [name, value] : changes) {
      if (value) merged.push_back(name + "=" + *value);
    }
    return merged;
  }

  // One read of output; false on timeout or end of output.
  bool readSome(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fd{fromChild_, POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
    char chunk[4096];
    const ssize_t count = ::read(fromChild_, chunk, sizeof chunk);
    if (count <= 0) return false;
    output_.append(chunk, static_cast<std::size_t>(count));
    return true;
  }

  void closeInput() {
    if (toChild_ >= 0) ::close(toChild_);
    toChild_ = -1;
  }

  int reap() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  bool exited_ = false;
  std::string output_;
  std::size_t searchedUpTo_ = 0;
};

}  // namespace test_support
