#include "app/search_url.hpp"

#include <cstdint>

#include "app/site_constants.hpp"

namespace app {
namespace {

bool staysAsItIs(std::uint8_t c) {
  if (c <= 0x20 || c >= 0x7f) return false;
  switch (c) {
    case '"': case '<': case '>': case '\\': case '^': case '`':
    case '{': case '|': case '}':
    // A bare "%" would read as the start of an escape, and "#" would cut
    // the query short at a fragment.
    case '%': case '#':
      return false;
    default:
      return true;
  }
}

}  // namespace

std::string escapeForURL(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<std::uint8_t>(ch);
    if (staysAsItIs(c)) {
      out.push_back(ch);
    } else {
      out.push_back('%');
      out.push_back(kDigits[c >> 4]);
      out.push_back(kDigits[c & 0xf]);
    }
  }
  return out;
}

std::string archiveSearchURL(std::string_view query, DeviceKind device) {
  const std::string_view root = device == DeviceKind::Phone ? kMobileSiteURL : kMainSiteURL;
  return std::string(root) + std::string(kArchiveSearchPath) + escapeForURL(query);
}

}  // namespace app
