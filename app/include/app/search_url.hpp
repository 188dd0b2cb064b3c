#pragma once
// The publisher's text-archive search, as opened from the sidebar's field.

#include <string>
#include <string_view>

#include "app/device_kind.hpp"

namespace app {

// Percent-escapes, as UTF-8, every byte that may not stand in a URL as it is:
// controls, space, non-ASCII, and " < > \ ^ ` { | } % #. Unreserved and
// reserved characters ("&", "?", "=", "/", "+", ...) stay as they are.
std::string escapeForURL(std::string_view text);

// The archive search URL for `query`: on a phone kMobileSiteURL, on a tablet
// kMainSiteURL, followed by "/tekstarkiv/?q=" and the escaped query.
std::string archiveSearchURL(std::string_view query, DeviceKind device);

}  // namespace app
