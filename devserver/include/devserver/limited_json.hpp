#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string_view>

namespace devserver {

// The nesting every JSON text from a request may have. The values are
// walked recursively (matching, normalising, writing), so the depth bounds
// the stack they need.
inline constexpr int kMaxJsonDepth = 64;
inline constexpr std::size_t kMaxJsonBytes = 8 * 1024 * 1024;

// Parses JSON text from outside the server. Nothing for malformed text, text
// longer than `maxBytes`, or nesting deeper than `maxDepth`. Every JSON
// parse of request text goes through here.
std::optional<nlohmann::json> parseJsonLimited(std::string_view text, int maxDepth = kMaxJsonDepth,
                                               std::size_t maxBytes = kMaxJsonBytes);

}  // namespace devserver
