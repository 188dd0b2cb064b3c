#pragma once
// What the window offers assistive technology and the keyboard: the
// controls a person can reach on the canvas, each with a role and a name,
// grouped as a screen reader expects (an alert holds its buttons, a list its
// rows). A control counts as reachable when a tap at the centre of its
// visible part reaches it (or, for text, its container), so a screen reader
// lists what a pointer can use and nothing hidden under the front panel or
// behind an alert. Toolkit-neutral; main thread only.

#include <optional>
#include <string>
#include <vector>

#include "display_list.hpp"

namespace gtk {

enum class AccessibleRole { Button, Label, List, ListItem, Alert };

struct AccessibleNode {
  AccessibleRole role = AccessibleRole::Button;
  std::string name;
  std::string description;
  ui::Rect rect;  // the visible part, on the canvas
  // Who the node stands for across layouts: the model view, table or alert,
  // and the row or alert button index (-1 for none).
  const void* owner = nullptr;
  int row = -1;
  // Activating the node taps here; none for text and groups.
  std::optional<ui::Point> tapPoint;
  // The keyboard starts here when the node appears (an alert's default
  // button, the one Enter takes).
  bool takesFocus = false;
  std::vector<AccessibleNode> children;
};

// The reachable controls of `items` (a display list), in drawing order.
std::vector<AccessibleNode> accessibleTree(const std::vector<DisplayItem>& items);

}  // namespace gtk
