#include "app/window_memory.hpp"

namespace app {
namespace {

constexpr const char* kDeviceKey = "kWindowDevice";
constexpr const char* kWidthKey = "kWindowWidth";
constexpr const char* kHeightKey = "kWindowHeight";

// A stored size from another screen, or edited by hand, must still give a
// window one can see and grab.
constexpr double kSmallest = 200;
constexpr double kLargest = 16000;

std::optional<double> lengthAt(const platform::UserDefaults& defaults, const char* key) {
  const platform::Value value = defaults.objectForKey(key);
  const platform::Number* number = value.number();
  if (!number) return std::nullopt;
  const double length = number->doubleValue();
  if (!(length >= kSmallest && length <= kLargest)) return std::nullopt;
  return length;
}

}  // namespace

RememberedWindow rememberedWindow(const platform::UserDefaults& defaults) {
  RememberedWindow remembered;
  if (const auto name = defaults.objectForKey(kDeviceKey); const std::string* text = name.string()) {
    remembered.device = parseDeviceKind(*text);
  }
  const auto width = lengthAt(defaults, kWidthKey);
  const auto height = lengthAt(defaults, kHeightKey);
  if (remembered.device && width && height) remembered.size = platform::ui::Size{*width, *height};
  return remembered;
}

void rememberWindow(platform::UserDefaults& defaults, DeviceKind device,
                    const std::optional<platform::ui::Size>& size) {
  defaults.setObject(platform::Value(std::string(deviceKindName(device))), kDeviceKey);
  if (!size) return;
  defaults.setDouble(size->width, kWidthKey);
  defaults.setDouble(size->height, kHeightKey);
}

}  // namespace app
