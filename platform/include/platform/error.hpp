#pragma once
// A failure that callers are expected to handle: a domain, an integer code
// and a user-info value (usually a dictionary).

#include <cstdint>
#include <string>

#include "platform/value.hpp"

namespace platform {

struct Error {
  std::string domain;
  std::int64_t code = 0;
  Value userInfo;

  Error() = default;
  Error(std::string domain, std::int64_t code, Value userInfo = Value())
      : domain(std::move(domain)), code(code), userInfo(std::move(userInfo)) {}

  // The human text: userInfo["error"], else userInfo["NSLocalizedDescription"],
  // else "<domain> error <code>".
  std::string message() const;
  // "Error Domain=<domain> Code=<code> UserInfo=<description of userInfo>".
  std::string description() const;

  bool operator==(const Error& other) const;
};

// Builds {"error": message} as user info for an error of the given domain.
Error makeError(std::string domain, std::int64_t code, const std::string& message);

}  // namespace platform
