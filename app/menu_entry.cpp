#include "app/menu_entry.hpp"

namespace app {
namespace {

std::optional<std::string> stringMember(const platform::Value& dictionary, std::string_view key) {
  const platform::Value member = dictionary[key];
  if (const std::string* text = member.string()) return *text;
  return std::nullopt;
}

}  // namespace

MenuEntry MenuEntry::fromValue(const platform::Value& value) {
  MenuEntry entry;
  if (!value.isDictionary()) return entry;
  entry.title = stringMember(value, "title").value_or("");
  // A url that is not text cannot be loaded; such an entry opens no page.
  entry.url = stringMember(value, "url");
  entry.navtype = stringMember(value, "navtype");
  entry.submenu = menuFromValue(value["submenu"]);
  return entry;
}

Menu menuFromValue(const platform::Value& value) {
  Menu menu;
  const platform::Array* items = value.array();
  if (!items) return menu;
  menu.reserve(items->size());
  for (const platform::Value& item : *items) menu.push_back(MenuEntry::fromValue(item));
  return menu;
}

Menu rootMenuFromConfiguration(const platform::Value& configuration) {
  if (!configuration.isDictionary()) return {};
  return menuFromValue(configuration["Vestavind"]);
}

}  // namespace app
