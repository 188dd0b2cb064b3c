#pragma once
// How a content screen rewrites the URL it is created with for the device.

#include <string>
#include <string_view>

#include "app/device_kind.hpp"

namespace app {

// Tablet: a URL that contains the main or the celebrity site's root gets
// every main-site root replaced by the tablet root and "hideHeader=1"
// appended after "?" (or "&" when it already has a "?"). Phone: exactly the
// main site's root becomes the mobile root plus "?hideHeader=1"; exactly the
// games site's root becomes its mobile root. Anything else is unchanged.
std::string rewriteURLForDevice(std::string_view url, DeviceKind device);

// The layout file a content screen uses on the device:
// "ViewController_iPad" or "ViewController_iPhone".
std::string_view contentLayoutName(DeviceKind device);

}  // namespace app
