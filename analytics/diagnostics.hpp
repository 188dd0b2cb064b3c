#pragma once
// The client's own diagnostics: "<product> <version> <operation> (<unit>:<line>): "
// followed by the message, sent to the shared logger at the given level.

#include <memory>
#include <string>

#include "analytics/logger.hpp"

namespace analytics::detail {

// The process-wide logger; never null.
std::shared_ptr<Logger> sharedLogger();
// Replaces it and answers whether it really changed (null restores a default logger).
bool setSharedLogger(std::shared_ptr<Logger> logger);

// True when a message of this level would be written (saves formatting).
bool logEnabled(LogLevel level);

// Where a message comes from: the enclosing function's signature as the
// compiler spells it, the source file and the line.
struct SourcePlace {
  const char* function;
  const char* file;
  int line;
};

// "Analytics 2.01b analytics::Dispatcher::dispatch (dispatcher:42): "
std::string messagePrefix(const SourcePlace& place);

void logAt(LogLevel level, const std::string& message, const SourcePlace& place);

}  // namespace analytics::detail

// The message expression is only evaluated when its level is on.
#define AN_LOG(level, message)                                                          \
  do {                                                                                 \
    if (::analytics::detail::logEnabled(level))                                        \
      ::analytics::detail::logAt(level, (message), {__PRETTY_FUNCTION__, __FILE__, __LINE__}); \
  } while (false)
#define AN_ERROR(message) AN_LOG(::analytics::LogLevel::Error, message)
#define AN_WARNING(message) AN_LOG(::analytics::LogLevel::Warning, message)
#define AN_INFO(message) AN_LOG(::analytics::LogLevel::Info, message)
#define AN_VERBOSE(message) AN_LOG(::analytics::LogLevel::Verbose, message)
