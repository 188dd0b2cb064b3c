#pragma once
// The lines the terminal mode and the window's command channel print alike.

#include <string>
#include <vector>

namespace app {
class SidebarViewController;
}

namespace app::terminal {

// `text` in double quotes, with quotes and backslashes escaped and line
// breaks as spaces, so one event stays on one line.
std::string quoted(const std::string& text);

// The answer to "menu": the level's title and row count, then one line per
// row (number, title, URL, ">" when it opens a submenu).
std::vector<std::string> menuListing(const SidebarViewController& level);

}  // namespace app::terminal
