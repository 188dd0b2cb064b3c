#pragma once
// The platform log: one line per message, on stderr by default.

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Receives each message as given (without the time and process prefix).
// Called on the logging thread; must be thread-safe.
using LogSink = std::function<void(std::string_view message)>;

// Logs one message. The stderr sink writes
// "<yyyy-mm-dd hh:mm:ss.mmm> <program>[<pid>:<tid>] <message>\n" with a single
// write(), so concurrent lines never interleave; line breaks inside the
// message are followed by a tab so continuation lines stay recognisable, and
// other control characters are written as \xNN. Thread-safe.
void log(std::string_view message);

// Installs a sink (nullptr restores stderr) and returns the previous one.
// Messages already being logged on other threads may still reach the old sink.
LogSink setLogSink(LogSink sink);

// Collects every logged message while it lives (test hook); restores the
// previous sink when destroyed. Not nestable across threads.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> lines() const;
  // True when some captured message contains `text`.
  bool contains(std::string_view text) const;

 private:
  struct Lines {
    mutable std::mutex mutex;
    std::vector<std::string> lines;
  };
  std::shared_ptr<Lines> lines_;
  LogSink previous_;
};

}  // namespace platform
