#pragma once

#include <string>
#include <string_view>

namespace devserver {

// The request log is served to anyone on this machine, so it keeps no
// credentials: passwords, session tokens and authorisation headers are
// replaced by "[redacted]".

// True for headers that carry credentials (Authorization, Cookie, ...).
bool isSecretHeader(std::string_view name);

// `body` with the values of secret names blanked: JSON members
// ("session_token": "...") and form fields (user_password=...). Works on
// text as written, so a truncated or malformed body is blanked too.
std::string redactSecrets(std::string_view body);

inline constexpr const char* kRedacted = "[redacted]";

}  // namespace devserver
