#pragma once
// What the reader's window remembers across launches, in user defaults:
// the device layout last used and the window's size in that layout.

#include <optional>

#include "app/device_kind.hpp"
#include "platform/ui/geometry.hpp"
#include "platform/user_defaults.hpp"

namespace app {

struct RememberedWindow {
  std::optional<DeviceKind> device;
  std::optional<platform::ui::Size> size;  // of the window in that layout
};

// What was stored; values that are missing, of the wrong kind or out of
// range (a window smaller than 200 or larger than 16000 points) count as
// not remembered.
RememberedWindow rememberedWindow(const platform::UserDefaults& defaults);

// Stores the layout, and the window size when there is a window.
void rememberWindow(platform::UserDefaults& defaults, DeviceKind device,
                    const std::optional<platform::ui::Size>& size);

}  // namespace app
