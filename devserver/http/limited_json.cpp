#include "devserver/limited_json.hpp"

namespace devserver {
namespace {

// The deepest nesting of `text` outside strings, stopping early past `limit`.
// For valid JSON the brackets balance, so this is the value's depth.
int nestingDepth(std::string_view text, int limit) {
  int depth = 0;
  int deepest = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size() && deepest <= limit; ++i) {
    char c = text[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      deepest = std::max(deepest, ++depth);
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return deepest;
}

}  // namespace

std::optional<nlohmann::json> parseJsonLimited(std::string_view text, int maxDepth, std::size_t maxBytes) {
  if (text.size() > maxBytes || nestingDepth(text, maxDepth) > maxDepth) return std::nullopt;
  nlohmann::json parsed = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

}  // namespace devserver
