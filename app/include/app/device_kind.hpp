#pragma once
// The two device kinds the shell lays out and rewrites URLs for.

#include <optional>
#include <string_view>

namespace app {

enum class DeviceKind { Phone, Tablet };

// "phone" / "tablet"; nullopt for anything else.
std::optional<DeviceKind> parseDeviceKind(std::string_view text);
std::string_view deviceKindName(DeviceKind kind);

}  // namespace app

namespace app {
// The kind of the main screen (a tablet idiom gives Tablet).
DeviceKind currentDeviceKind();
}  // namespace app
