#include "app/window_memory.hpp"

#include <gtest/gtest.h>

#include "support/scratch_directory.hpp"

namespace app {
namespace {

TEST(WindowMemory, LayoutAndSizeSurviveANewStoreOnTheSameFile) {
  test_support::ScratchDirectory directory;
  {
    platform::UserDefaults defaults(directory / "defaults.json");
    EXPECT_FALSE(rememberedWindow(defaults).device);
    rememberWindow(defaults, DeviceKind::Tablet, platform::ui::Size{900, 700});
  }
  platform::UserDefaults reopened(directory / "defaults.json");
  const RememberedWindow remembered = rememberedWindow(reopened);
  EXPECT_EQ(remembered.device, DeviceKind::Tablet);
  ASSERT_TRUE(remembered.size);
  EXPECT_EQ(*remembered.size, (platform::ui::Size{900, 700}));

  // The terminal has no window: the layout changes, the size stays.
  rememberWindow(reopened, DeviceKind::Phone, std::nullopt);
  EXPECT_EQ(rememberedWindow(reopened).device, DeviceKind::Phone);
  EXPECT_EQ(rememberedWindow(reopened).size, (platform::ui::Size{900, 700}));
}

TEST(WindowMemory, StoredValuesThatMakeNoWindowAreForgotten) {
  test_support::ScratchDirectory directory;
  platform::UserDefaults defaults(directory / "defaults.json");
  rememberWindow(defaults, DeviceKind::Phone, platform::ui::Size{390, 844});
  for (const platform::Value& bad : {platform::Value(0), platform::Value(-5), platform::Value(1e9),
                                     platform::Value("844")}) {
    defaults.setObject(bad, "kWindowHeight");
    EXPECT_FALSE(rememberedWindow(defaults).size) << bad.description();
    EXPECT_EQ(rememberedWindow(defaults).device, DeviceKind::Phone);
  }
  defaults.setObject(platform::Value("watch"), "kWindowDevice");
  EXPECT_FALSE(rememberedWindow(defaults).device);
}

}  // namespace
}  // namespace app
