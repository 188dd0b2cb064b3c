#include "platform/log.hpp"

#include <errno.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <fmt/format.h>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "platform/fork_generation.hpp"

namespace platform {
namespace {

std::mutex sinkMutex;
std::shared_ptr<const LogSink> installedSink;

std::string timestamp() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:03}", local.tm_year + 1900, local.tm_mon + 1,
                     local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, millis);
}

// Keeps a message from forging log lines or driving the terminal.
void appendSanitised(std::string& out, std::string_view message) {
  for (char c : message) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\n\t";
    } else if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
      fmt::format_to(std::back_inserter(out), "\\x{:02x}", byte);
    } else {
      out += c;
    }
  }
}

void writeAll(int fd, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere else to report a broken stderr
    written += static_cast<std::size_t>(n);
  }
}

struct ProcessAndThread {
  std::optional<unsigned> generation;
  std::string text;  // "<pid>:<tid>"
};

// Asked of the system once per thread (and again after a fork), not per line.
const std::string& processAndThread() {
  thread_local ProcessAndThread ids;
  const auto generation = forkGeneration();
  if (!generation || ids.generation != generation) {
    ids.generation = generation;
    ids.text = std::to_string(::getpid()) + ':' + std::to_string(static_cast<long>(::syscall(SYS_gettid)));
  }
  return ids.text;
}

void writeToStderr(std::string_view message) {
  std::string line = timestamp();
  line += ' ';
  line += program_invocation_short_name;
  line += '[';
  line += processAndThread();
  line += "] ";
  appendSanitised(line, message);
  line += '\n';
  writeAll(STDERR_FILENO, line);
}

}  // namespace

void log(std::string_view message) {
  std::shared_ptr<const LogSink> sink;
  {
    std::lock_guard lock(sinkMutex);
    sink = installedSink;
  }
  // Called outside the lock: a sink may log or replace the sink itself.
  if (sink) {
    (*sink)(message);
  } else {
    writeToStderr(message);
  }
}

LogSink setLogSink(LogSink sink) {
  std::shared_ptr<const LogSink> next = sink ? std::make_shared<const LogSink>(std::move(sink)) : nullptr;
  std::lock_guard lock(sinkMutex);
  std::shared_ptr<const LogSink> previous = std::exchange(installedSink, std::move(next));
  return previous ? *previous : LogSink();
}

LogCapture::LogCapture() : lines_(std::make_shared<Lines>()) {
  previous_ = setLogSink([lines = lines_](std::string_view message) {
    std::lock_guard lock(lines->mutex);
    lines->lines.emplace_back(message);
  });
}

LogCapture::~LogCapture() { setLogSink(std::move(previous_)); }

std::vector<std::string> LogCapture::lines() const {
  std::lock_guard lock(lines_->mutex);
  return lines_->lines;
}

bool LogCapture::contains(std::string_view text) const {
  std::lock_guard lock(lines_->mutex);
  for (const auto& line : lines_->lines) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace platform
