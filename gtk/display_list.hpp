#pragma once
// What the window shows, flattened: the model's view tree walked into a list
// of items in drawing order (back to front), each with its place on the
// canvas, the part of it that is visible and whether taps reach it. The
// canvas draws the list, places the native widgets (web views, search
// fields) by it and answers taps from it, so drawing and hit testing agree.
// Toolkit-neutral; main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/alert_view.hpp"
#include "platform/ui/bars.hpp"
#include "platform/ui/control.hpp"
#include "platform/ui/geometry.hpp"
#include "platform/ui/view.hpp"

namespace gtk {

namespace ui = platform::ui;

enum class ItemKind {
  Plain,          // background colour only
  Label,
  Image,
  Button,
  Spinner,        // an animating activity indicator
  NavigationBar,  // background image and, without a title view, the title text
  Toolbar,
  TableRow,       // one row of a table view (row set)
  WebView,        // native widget
  SearchField,    // native widget
  AlertDim,       // the veil behind an alert; takes every tap
  AlertBox,
  AlertButton,    // row = the button index
};

struct DisplayItem {
  ItemKind kind = ItemKind::Plain;
  std::weak_ptr<ui::View> view;         // the model view; empty for alert parts
  std::weak_ptr<ui::AlertView> alert;   // alert parts
  ui::Rect rect;                        // on the canvas
  ui::Rect clip;                        // visible part of the canvas for this item
  double opacity = 1;
  bool interactive = true;
  int row = -1;
};

// A text or an image a frame drew, where it shows on the canvas (its ink
// for text): what tells whether any of them cover each other.
struct DrawnPart {
  enum class Kind { Text, Image };
  Kind kind = Kind::Text;
  std::string what;  // the text, or the image's name
  ui::Rect rect;
};

// The frame a view is drawn at (its animated frame while it moves).
using FrameSource = std::function<ui::Rect(const ui::View&)>;

// The list for `root` drawn on a canvas of `canvas` size, with the topmost
// visible alert (if any) over everything.
std::vector<DisplayItem> buildDisplayList(ui::View* root, ui::Size canvas, const FrameSource& frameOf);

// The front-most interactive item whose visible part holds `point`, or null.
const DisplayItem* hitTest(const std::vector<DisplayItem>& items, ui::Point point);

// Where a navigation bar of `barSize` puts its top item's parts (bar
// coordinates); an absent part has no rectangle.
struct NavigationBarLayout {
  std::optional<ui::Rect> left;
  std::optional<ui::Rect> right;
  std::optional<ui::Rect> title;
};
NavigationBarLayout layoutNavigationBar(const ui::NavigationItem& item, ui::Size barSize);

// The rectangles of a toolbar's items, in order (bar coordinates). Custom
// views keep their size; flexible spaces share what is left.
std::vector<ui::Rect> layoutToolbar(const std::vector<std::shared_ptr<ui::BarButtonItem>>& items, ui::Size barSize);

// An alert's box and its parts on a canvas of `canvas` size.
// Where a button draws its image and title: side by side, centred, each
// moved by half its insets; a title the insets would push under the image
// is set beside it instead, so text and icon never cover each other.
struct ButtonLayout {
  std::optional<ui::Rect> image;
  std::optional<ui::Rect> title;
};
ButtonLayout layoutButton(const ui::Button& button, const ui::Rect& rect, ui::Size imageSize, ui::Size titleSize);

struct AlertLayout {
  ui::Rect box;
  ui::Rect title;
  ui::Rect message;
  std::vector<ui::Rect> buttons;
};
AlertLayout layoutAlert(const ui::AlertView& alert, ui::Size canvas);

// The walk from an item's view up through its superviews, nearest first.
std::vector<ui::View*> viewChain(ui::View* view);

}  // namespace gtk
