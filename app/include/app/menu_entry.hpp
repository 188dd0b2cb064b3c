#pragma once
// The downloaded menu configuration and its entries. Every key is optional
// and data of the wrong kind is tolerated: it counts as missing.

#include <optional>
#include <string>
#include <vector>

#include "app/nav_type.hpp"
#include "platform/value.hpp"

namespace app {

struct MenuEntry {
  std::string title;                 // row text; empty when missing
  std::optional<std::string> url;    // present (also when empty) = the entry opens a page
  std::optional<NavType> navtype;    // nullopt: the opened screen gets no nav type
  std::vector<MenuEntry> submenu;    // empty: no deeper level

  bool hasSubmenu() const noexcept { return !submenu.empty(); }

  // Reads one entry. A value that is not a dictionary gives an entry with
  // nothing set (an empty row that does nothing), so rows keep their places.
  static MenuEntry fromValue(const platform::Value& value);
};

using Menu = std::vector<MenuEntry>;

// The entries of an array value; anything else gives no entries.
Menu menuFromValue(const platform::Value& value);

// The main site's root menu: the member "Vestavind" of a configuration
// object; empty when the configuration is not an object or lacks it.
Menu rootMenuFromConfiguration(const platform::Value& configuration);

}  // namespace app
