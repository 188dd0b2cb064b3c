#include "app/search_url.hpp"

#include <cstdint>

#include "app/site_constants.hpp"

namespace app {
namespace {

// Only the unreserved characters go as they are: a reserved one ("&", "+",
// "=", "#", ...) would end or change the query parameter.
bool staysAsItIs(std::uint8_t c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return c == '-' || c == '.' || c == '_' || c == '~';
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
