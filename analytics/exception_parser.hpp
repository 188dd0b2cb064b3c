#pragma once
// Turns an exception and its call stack into the short text of an exception hit.

#include <cstddef>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.hpp"

namespace analytics {

// What is known about an exception: its name (the platform name of a named
// exception, else its type), its reason, and the symbolicated call stack,
// one line per frame in the form "<index> <module> <address> <symbol> + <offset>".
struct ExceptionReport {
  std::string name;
  std::string reason;
  std::vector<std::string> callStackSymbols;

  // The report of an exception object and the current call stack.
  static ExceptionReport fromException(const std::exception_ptr& exception);
  // The current call stack in the form above, innermost frame first.
  static std::vector<std::string> currentCallStack();
};

class ExceptionParser {
 public:
  ExceptionParser() = delete;

  // The name, then "\nTrace:" and one "\n<symbol>" per frame from the third
  // on, stopping once maxLength is reached and cut to it (0: no maximum).
  static std::string exceptionDescription(const ExceptionReport& exception, std::size_t maxLength);
  // The symbol of one call-stack line, or nullopt when it has none.
  static std::optional<std::string> symbolFromStackFrame(std::string_view frame);
};

class Util {
 public:
  Util() = delete;
  // exceptionDescription with maximum 150; nullopt without an exception.
  static std::optional<std::string> descriptionFromException(const ExceptionReport* exception);
  // "<domain> <code>: <message>"; nullopt without an error.
  static std::optional<std::string> descriptionFromError(const platform::Error* error);
};

}  // namespace analytics
