#include "keyboard_shortcuts.hpp"

#include <gdk/gdk.h>

namespace gtk {

Shortcut shortcutFor(unsigned keyval, unsigned modifiers, bool alertShown) {
  // Shift is part of the key for "?" (it is Shift+/ on most layouts). On
  // X11 the Alt key may come with Meta as well.
  unsigned mods = modifiers & (GDK_CONTROL_MASK | GDK_ALT_MASK | GDK_META_MASK | GDK_SUPER_MASK | GDK_HYPER_MASK);
  if (mods & GDK_META_MASK) mods = (mods & ~unsigned(GDK_META_MASK)) | GDK_ALT_MASK;
  const bool ctrl = mods == GDK_CONTROL_MASK;
  const bool alt = mods == GDK_ALT_MASK;
  const bool none = mods == 0;
  switch (keyval) {
    case GDK_KEY_Escape: return none ? Shortcut::Dismiss : Shortcut::None;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter: return none && alertShown ? Shortcut::Accept : Shortcut::None;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left: return alt ? Shortcut::WebBack : Shortcut::None;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right: return alt ? Shortcut::WebForward : Shortcut::None;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home: return alt ? Shortcut::Home : Shortcut::None;
    case GDK_KEY_F5: return none ? Shortcut::Refresh : Shortcut::None;
    case GDK_KEY_F10: return none ? Shortcut::ToggleMenu : Shortcut::None;
    case GDK_KEY_question: return none || ctrl ? Shortcut::ShowShortcuts : Shortcut::None;
    default: break;
  }
  if (!ctrl) return Shortcut::None;
  // Letters by their lower case, whatever Shift or Caps Lock did to them.
  switch (gdk_keyval_to_lower(keyval)) {
    case GDK_KEY_f: return Shortcut::Search;
    case GDK_KEY_m: return Shortcut::ToggleMenu;
    case GDK_KEY_r: return Shortcut::Refresh;
    case GDK_KEY_q:
    case GDK_KEY_w: return Shortcut::Quit;
    case GDK_KEY_slash: return Shortcut::ShowShortcuts;
    default: return Shortcut::None;
  }
}

std::vector<ShortcutListing> shortcutListings() {
  return {
      {"Navigering", "<Alt>Left", "Tilbake"},
      {"Navigering", "<Alt>Right", "Fremover"},
      {"Navigering", "<Alt>Home", "Til forsiden"},
      {"Navigering", "<Control>r F5", "Last siden på nytt"},
      {"Meny", "F10 <Control>m", "Vis eller skjul menyen"},
      {"Meny", "<Control>f", "Søk i arkivet"},
      {"Meny", "Escape", "Lukk menyen eller varselet"},
      {"Meny", "Return", "Velg varselets hovedknapp"},
      {"Generelt", "question <Control>question", "Hurtigtaster"},
      {"Generelt", "<Control>q <Control>w", "Avslutt"},
  };
}

}  // namespace gtk
