#include "json_parsers.hpp"
#include "platform/json.hpp"

namespace platform::json {

Result<Value> parse(std::string_view text) {
  if (auto value = detail::parseFast(text)) return std::move(*value);
  // Refused, or beyond what the fast reader reads (integers past 64 bits):
  // the reference reader accepts or names the problem and its offset.
  return detail::parseReference(text);
}

}  // namespace platform::json
