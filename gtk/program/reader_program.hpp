#pragma once
// What the two reader programs share: the command line, the services the
// reader runs on, and the terminal mode. `newsreader` carries no GTK, so the
// terminal starts without loading the toolkit's libraries; where a window is
// wanted it hands over to `newsreader-window`, which adds the window mode.

#include <functional>
#include <optional>

#include "platform/ui/geometry.hpp"

namespace reader {

struct WindowMode {
  // Whether a window can open here. May not return: the program that has
  // no window of its own replaces itself with the one that has.
  std::function<bool()> available;
  // Runs the window until it closes: the exit status; `closedSize` gets the
  // size the window had then.
  std::function<int(platform::ui::Size windowSize, std::optional<platform::ui::Size>& closedSize)> run;
};

// The whole program: 0 success, 1 failure, 2 misuse.
int runReader(int argc, char** argv, const WindowMode& window);

}  // namespace reader
