#include "diagnostics.hpp"

#include <mutex>
#include <string_view>

namespace analytics::detail {

namespace {

std::mutex& loggerMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<Logger>& loggerSlot() {
  static std::shared_ptr<Logger> logger = std::make_shared<DefaultLogger>();
  return logger;
}

// "void analytics::Dispatcher::dispatch(int)" -> "analytics::Dispatcher::dispatch"
std::string_view operationName(std::string_view signature) {
  auto paren = signature.find('(');
  if (paren != std::string_view::npos) signature = signature.substr(0, paren);
  auto space = signature.rfind(' ');
  if (space != std::string_view::npos) signature = signature.substr(space + 1);
  return signature;
}

// "/x/analytics/dispatcher.cpp" -> "dispatcher"
std::string_view unitName(std::string_view file) {
  auto slash = file.rfind('/');
  if (slash != std::string_view::npos) file = file.substr(slash + 1);
  auto dot = file.find('.');
  if (dot != std::string_view::npos) file = file.substr(0, dot);
  return file;
}

}  // namespace

std::shared_ptr<Logger> sharedLogger() {
  std::lock_guard lock(loggerMutex());
  return loggerSlot();
}

bool setSharedLogger(std::shared_ptr<Logger> logger) {
  if (!logger) logger = std::make_shared<DefaultLogger>();
  std::lock_guard lock(loggerMutex());
  if (loggerSlot() == logger) return false;
  loggerSlot() = std::move(logger);
  return true;
}

bool logEnabled(LogLevel level) {
  return static_cast<unsigned>(sharedLogger()->logLevel()) >= static_cast<unsigned>(level);
}

std::string messagePrefix(const SourcePlace& place) {
  std::string prefix = std::string(kProductName) + " " + kClientVersion + " ";
  prefix += operationName(place.function);
  prefix += " (";
  prefix += unitName(place.file);
  prefix += ":" + std::to_string(place.line) + "): ";
  return prefix;
}

void logAt(LogLevel level, const std::string& message, const SourcePlace& place) {
  auto logger = sharedLogger();
  std::string line = messagePrefix(place) + message;
  switch (level) {
    case LogLevel::Error: logger->error(line); break;
    case LogLevel::Warning: logger->warning(line); break;
    case LogLevel::Info: logger->info(line); break;
    case LogLevel::Verbose: logger->verbose(line); break;
    case LogLevel::None: break;
  }
}

}  // namespace analytics::detail
