#pragma once
// Diagnostics of the analytics client: a replaceable logger with levels.

#include <atomic>
#include <string>

namespace analytics {

enum class LogLevel : unsigned { None = 0, Error = 1, Warning = 2, Info = 3, Verbose = 4 };

// Receives every diagnostic of the client, already formatted. Called from any
// thread; implementations must be thread-safe.
class Logger {
 public:
  virtual ~Logger() = default;
  virtual void verbose(const std::string& message) = 0;
  virtual void info(const std::string& message) = 0;
  virtual void warning(const std::string& message) = 0;
  virtual void error(const std::string& message) = 0;
  virtual LogLevel logLevel() const = 0;
  virtual void setLogLevel(LogLevel level) = 0;
};

// Writes "VERBOSE: ", "INFO: ", "WARNING: " or "ERROR: " and the message to the
// platform log when the message's level is at or below logLevel() (starts at
// Warning).
class DefaultLogger final : public Logger {
 public:
  void verbose(const std::string& message) override;
  void info(const std::string& message) override;
  void warning(const std::string& message) override;
  void error(const std::string& message) override;
  LogLevel logLevel() const override { return level_.load(); }
  void setLogLevel(LogLevel level) override { level_.store(level); }

 private:
  std::atomic<LogLevel> level_{LogLevel::Warning};
};

// The client's product name and version, as they appear in messages and hits.
inline constexpr const char* kProductName = "Analytics";
inline constexpr const char* kClientVersion = "2.01b";

}  // namespace analytics
