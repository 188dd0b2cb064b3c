// The client's error values: domain "Backend", the answer dictionary as user info.

#include "backend/internal/internal_utils.hpp"
#include "platform/log.hpp"

namespace backend {
namespace {

void logError(const std::string& message, std::int64_t code) {
  platform::log("Error: " + message + " (Code: " + std::to_string(code) + ", Version: " + kClientVersion + ")");
}

}  // namespace

platform::Error InternalUtils::errorWithCode(std::int64_t code, const std::string& message, bool shouldLog) {
  if (shouldLog) logError(message, code);
  return platform::Error(kErrorDomain, code,
                         Value::dictionary({{"code", Value(static_cast<long long>(code))}, {"error", Value(message)}}));
}

platform::Error InternalUtils::errorFromResult(const Value& result, bool shouldLog) {
  const std::int64_t code = result["code"].longLongValue();
  const Value message = result["error"];
  // A non-string message is logged by its description rather than dropped.
  const std::string text = message.isString() ? *message.string() : message.description();
  if (shouldLog) logError(text, code);
  return platform::Error(kErrorDomain, code, result);
}

}  // namespace backend
