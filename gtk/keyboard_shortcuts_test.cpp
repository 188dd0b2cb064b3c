#include "keyboard_shortcuts.hpp"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

namespace gtk {
namespace {

TEST(KeyboardShortcuts, ModifiedKeysMeanTheirActionAndPlainOnesReachThePage) {
  EXPECT_EQ(shortcutFor(GDK_KEY_Left, GDK_ALT_MASK, false), Shortcut::WebBack);
  EXPECT_EQ(shortcutFor(GDK_KEY_Right, GDK_ALT_MASK, false), Shortcut::WebForward);
  EXPECT_EQ(shortcutFor(GDK_KEY_Home, GDK_ALT_MASK, false), Shortcut::Home);
  EXPECT_EQ(shortcutFor(GDK_KEY_Left, GDK_ALT_MASK | GDK_META_MASK, false), Shortcut::WebBack);
  // Without Alt the arrows and Home scroll the page.
  EXPECT_EQ(shortcutFor(GDK_KEY_Left, 0, false), Shortcut::None);
  EXPECT_EQ(shortcutFor(GDK_KEY_Home, 0, false), Shortcut::None);
  EXPECT_EQ(shortcutFor(GDK_KEY_Left, GDK_ALT_MASK | GDK_CONTROL_MASK, false), Shortcut::None);
  EXPECT_EQ(shortcutFor(GDK_KEY_r, 0, false), Shortcut::None);  // typing an "r" into the search field
}

TEST(KeyboardShortcuts, LockKeysAndShiftDoNotHideControlLetters) {
  const unsigned locks = GDK_LOCK_MASK | GDK_BUTTON1_MASK;  // Caps Lock, a mouse button held
  EXPECT_EQ(shortcutFor(GDK_KEY_r, GDK_CONTROL_MASK | locks, false), Shortcut::Refresh);
  EXPECT_EQ(shortcutFor(GDK_KEY_R, GDK_CONTROL_MASK | GDK_LOCK_MASK, false), Shortcut::Refresh);
  EXPECT_EQ(shortcutFor(GDK_KEY_F, GDK_CONTROL_MASK | GDK_SHIFT_MASK, false), Shortcut::Search);
  EXPECT_EQ(shortcutFor(GDK_KEY_m, GDK_CONTROL_MASK, false), Shortcut::ToggleMenu);
  EXPECT_EQ(shortcutFor(GDK_KEY_F10, GDK_LOCK_MASK, false), Shortcut::ToggleMenu);
  EXPECT_EQ(shortcutFor(GDK_KEY_F5, 0, false), Shortcut::Refresh);
  EXPECT_EQ(shortcutFor(GDK_KEY_q, GDK_CONTROL_MASK, false), Shortcut::Quit);
  EXPECT_EQ(shortcutFor(GDK_KEY_W, GDK_CONTROL_MASK | GDK_SHIFT_MASK, false), Shortcut::Quit);
  EXPECT_EQ(shortcutFor(GDK_KEY_question, GDK_SHIFT_MASK, false), Shortcut::ShowShortcuts);
  EXPECT_EQ(shortcutFor(GDK_KEY_question, GDK_CONTROL_MASK | GDK_SHIFT_MASK, false), Shortcut::ShowShortcuts);
}

TEST(KeyboardShortcuts, EnterAcceptsOnlyWhileAnAlertIsShown) {
  EXPECT_EQ(shortcutFor(GDK_KEY_Return, 0, true), Shortcut::Accept);
  EXPECT_EQ(shortcutFor(GDK_KEY_KP_Enter, GDK_LOCK_MASK, true), Shortcut::Accept);
  EXPECT_EQ(shortcutFor(GDK_KEY_Return, 0, false), Shortcut::None);
  EXPECT_EQ(shortcutFor(GDK_KEY_Escape, 0, false), Shortcut::Dismiss);
}

TEST(KeyboardShortcuts, EveryListedAcceleratorParses) {
  for (const ShortcutListing& listing : shortcutListings()) {
    std::size_t start = 0;
    while (start < listing.accelerators.size()) {
      const auto end = listing.accelerators.find(' ', start);
      const std::string accelerator = listing.accelerators.substr(start, end - start);
      guint key = 0;
      GdkModifierType mods{};
      EXPECT_TRUE(gtk_accelerator_parse(accelerator.c_str(), &key, &mods)) << accelerator;
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
}

}  // namespace
}  // namespace gtk
