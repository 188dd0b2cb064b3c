#pragma once
// Drawing the model's views into a GTK snapshot: colours, images, text and
// the controls the canvas draws itself. Main thread only.

#include <gtk/gtk.h>

#include <set>
#include <string>
#include <vector>

#include "display_list.hpp"
#include "platform/ui/alert_view.hpp"
#include "platform/ui/bars.hpp"
#include "platform/ui/control.hpp"
#include "platform/ui/geometry.hpp"
#include "platform/ui/graphics.hpp"
#include "platform/ui/label.hpp"
#include "platform/ui/table_view.hpp"

namespace gtk {

namespace ui = platform::ui;

// Colours the model leaves to the toolkit.
constexpr GdkRGBA kCanvasBackground{1, 1, 1, 1};
constexpr GdkRGBA kBarFallback{0.55, 0.06, 0.09, 1};
constexpr GdkRGBA kToolbarFill{0.97, 0.97, 0.97, 1};
constexpr GdkRGBA kToolbarBorder{0.70, 0.70, 0.72, 1};
constexpr GdkRGBA kRowSeparator{0.784, 0.780, 0.800, 1};
constexpr GdkRGBA kRowSelected{0.85, 0.85, 0.85, 1};
constexpr GdkRGBA kChevron{0.78, 0.78, 0.80, 1};
constexpr GdkRGBA kAlertVeil{0, 0, 0, 0.4};
constexpr GdkRGBA kAlertBox{0.96, 0.96, 0.97, 1};
constexpr GdkRGBA kAlertText{0, 0, 0, 1};
constexpr GdkRGBA kAlertButtonText{0, 0.48, 1, 1};
constexpr GdkRGBA kWhite{1, 1, 1, 1};

inline GdkRGBA rgba(const ui::Color& c) {
  return GdkRGBA{float(c.red), float(c.green), float(c.blue), float(c.alpha)};
}

inline graphene_rect_t grect(const ui::Rect& r) {
  return GRAPHENE_RECT_INIT(float(r.x()), float(r.y()), float(r.width()), float(r.height()));
}

// Pixels per point of the frame being drawn (the window's scale factor).
extern int drawingScale;
// The image files the frame being drawn used.
extern std::set<std::string> drawnFiles;

// The parts of the frame being drawn, and the clip of the item being drawn.
extern std::vector<DrawnPart> drawnParts;
extern ui::Rect drawingClip;

enum class Align { Left, Centre, Right };

// One line of text in `rect` (ellipsized), or wrapped lines when `wrap`.
void drawText(GtkSnapshot* snapshot, GtkWidget* widget, const std::string& text, const ui::Font& font,
              const GdkRGBA& colour, const ui::Rect& rect, Align align, bool wrap = false);

void drawImage(GtkSnapshot* snapshot, const ui::Image& image, const ui::Rect& rect);
void fill(GtkSnapshot* snapshot, const GdkRGBA& colour, const ui::Rect& rect);
void drawSpinner(GtkSnapshot* snapshot, const ui::Rect& rect, const GdkRGBA& colour);
Align alignOf(ui::TextAlignment alignment);
void drawButton(GtkSnapshot* snapshot, GtkWidget* widget, ui::Button& button, const ui::Rect& rect);
void drawNavigationBar(GtkSnapshot* snapshot, GtkWidget* widget, ui::NavigationBar& bar, const ui::Rect& rect);
void drawRow(GtkSnapshot* snapshot, GtkWidget* widget, ui::TableView& table, int row, const ui::Rect& rect);
// Around the control the keyboard is on.
void drawFocusRing(GtkSnapshot* snapshot, const ui::Rect& rect);
void drawAlert(GtkSnapshot* snapshot, GtkWidget* widget, ui::AlertView& alert, ui::Size canvas);

}  // namespace gtk
