#pragma once
// The window's keyboard shortcuts: which key press means which action, and
// the list the shortcuts window shows. Keys without a shortcut go on to the
// focused widget (the page scrolls with the arrows, fields take text).

#include <string>
#include <vector>

namespace gtk {

enum class Shortcut {
  None,
  Dismiss,        // Esc: an alert's cancel button, else closes the sidebar
  Accept,         // Enter: an alert's default button
  WebBack,        // Alt+Left
  WebForward,     // Alt+Right
  Home,           // Alt+Home
  Search,         // Ctrl+F
  ToggleMenu,     // F10, Ctrl+M
  Refresh,        // Ctrl+R, F5
  Quit,           // Ctrl+Q, Ctrl+W
  ShowShortcuts,  // ?, Ctrl+?
};

// The shortcut of a key press: `keyval` and `modifiers` as GDK gives them
// (GdkModifierType bits). Lock keys (Caps Lock, Num Lock) do not count;
// Enter is a shortcut only while `alertShown`, so it reaches pages and fields otherwise.
Shortcut shortcutFor(unsigned keyval, unsigned modifiers, bool alertShown);

struct ShortcutListing {
  std::string section;
  std::string accelerators;  // in GTK's accelerator syntax, space separated
  std::string title;
};

// What the shortcuts window lists, section by section.
std::vector<ShortcutListing> shortcutListings();

}  // namespace gtk
