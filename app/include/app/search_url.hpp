#pragma once
// The publisher's text-archive search, as opened from the sidebar's field.

#include <string>
#include <string_view>

#include "app/device_kind.hpp"

namespace app {

// Percent-escapes, as UTF-8, every byte but the unreserved characters
// (letters, digits, "-", ".", "_", "~"), so the text stays one query value:
// "&", "+", "=", "#", "%", space, controls and non-ASCII are all escaped.
std::string escapeForURL(std::string_view text);

// The archive search URL for `query`: on a phone kMobileSiteURL, on a tablet
// kMainSiteURL, followed by "/tekstarkiv/?q=" and the escaped query.
std::string archiveSearchURL(std::string_view query, DeviceKind device);

}  // namespace app
