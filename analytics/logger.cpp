#include "analytics/logger.hpp"

#include "platform/log.hpp"

namespace analytics {

namespace {

void emit(LogLevel threshold, LogLevel level, const char* tag, const std::string& message) {
  if (static_cast<unsigned>(threshold) < static_cast<unsigned>(level)) return;
  platform::log(std::string(tag) + message);
}

}  // namespace

void DefaultLogger::verbose(const std::string& message) { emit(logLevel(), LogLevel::Verbose, "VERBOSE: ", message); }
void DefaultLogger::info(const std::string& message) { emit(logLevel(), LogLevel::Info, "INFO: ", message); }
void DefaultLogger::warning(const std::string& message) { emit(logLevel(), LogLevel::Warning, "WARNING: ", message); }
void DefaultLogger::error(const std::string& message) { emit(logLevel(), LogLevel::Error, "ERROR: ", message); }

}  // namespace analytics
