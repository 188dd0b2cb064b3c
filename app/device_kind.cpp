#include "app/device_kind.hpp"

namespace app {

std::optional<DeviceKind> parseDeviceKind(std::string_view text) {
  if (text == "phone") return DeviceKind::Phone;
  if (text == "tablet") return DeviceKind::Tablet;
  return std::nullopt;
}

std::string_view deviceKindName(DeviceKind kind) { return kind == DeviceKind::Phone ? "phone" : "tablet"; }

}  // namespace app

#include "platform/ui/window.hpp"

namespace app {

DeviceKind currentDeviceKind() {
  return platform::ui::Screen::main().idiom() == platform::ui::UserInterfaceIdiom::Pad ? DeviceKind::Tablet
                                                                                        : DeviceKind::Phone;
}

}  // namespace app
