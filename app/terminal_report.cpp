#include "app/terminal_report.hpp"

#include "app/sidebar_view_controller.hpp"

namespace app::terminal {

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += (c == '\n' || c == '\r') ? ' ' : c;
  }
  return out + "\"";
}

std::vector<std::string> menuListing(const SidebarViewController& level) {
  std::vector<std::string> lines{"menu " + quoted(level.navTitle()) + ", " + std::to_string(level.data().size()) +
                                 " rows"};
  int row = 0;
  for (const MenuEntry& entry : level.data()) {
    std::string line = "  " + std::to_string(row++) + " " + quoted(entry.title);
    if (entry.url) line += " " + (entry.url->empty() ? std::string("\"\"") : *entry.url);
    if (entry.hasSubmenu()) line += " >";
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace app::terminal
