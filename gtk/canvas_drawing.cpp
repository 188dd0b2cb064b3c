#include "canvas_drawing.hpp"

#include <cmath>
#include <map>

#include "canvas.hpp"
#include "display_list.hpp"
#include "platform/bundle.hpp"

namespace gtk {

int drawingScale = 1;
std::set<std::string> drawnFiles;
std::vector<DrawnPart> drawnParts;
ui::Rect drawingClip;

namespace {

// "menu_white.png" at scale 2 is "menu_white@2x.png".
std::string scaledName(const std::string& name, int scale) {
  if (scale < 2) return name;
  const auto dot = name.rfind('.');
  const std::string suffix = "@" + std::to_string(scale) + "x";
  return dot == std::string::npos ? name + suffix : name.substr(0, dot) + suffix + name.substr(dot);
}

// Images of the bundle by name; a missing file is looked for again later
// (the resources may be installed while the program runs).
GdkTexture* loadTexture(const std::string& name) {
  static std::map<std::string, GdkTexture*> cache;
  if (auto it = cache.find(name); it != cache.end()) return it->second;
  auto path = platform::Bundle::main().pathForResource(name, "");
  GdkTexture* texture = path ? gdk_texture_new_from_filename(path->c_str(), nullptr) : nullptr;
  cache.emplace(name, texture);
  return texture;
}

// The image drawn at the screen's density where there is one made for it.
GdkTexture* textureNamed(const std::string& name) {
  if (name.empty()) return nullptr;
  if (drawingScale >= 2) {
    if (GdkTexture* sharp = loadTexture(scaledName(name, 2))) {
      drawnFiles.insert(scaledName(name, 2));
      return sharp;
    }
  }
  GdkTexture* texture = loadTexture(name);
  if (texture) drawnFiles.insert(name);
  return texture;
}

PangoFontDescription* fontOf(const ui::Font& font) {
  PangoFontDescription* description = pango_font_description_from_string("Sans");
  pango_font_description_set_absolute_size(description, font.pointSize * PANGO_SCALE);
  if (font.bold) pango_font_description_set_weight(description, PANGO_WEIGHT_BOLD);
  return description;
}

PangoLayout* layoutFor(GtkWidget* widget, const std::string& text, const ui::Font& font) {
  PangoLayout* layout = gtk_widget_create_pango_layout(widget, text.c_str());
  PangoFontDescription* description = fontOf(font);
  pango_layout_set_font_description(layout, description);
  pango_font_description_free(description);
  return layout;
}

ui::Size textSize(GtkWidget* widget, const std::string& text, const ui::Font& font) {
  PangoLayout* layout = layoutFor(widget, text, font);
  int width = 0;
  int height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  g_object_unref(layout);
  return {double(width), double(height)};
}

void drawChevron(GtkSnapshot* snapshot, const ui::Rect& row) {
  const ui::Rect box(row.maxX() - 24, row.y() + row.height() / 2 - 7, 10, 14);
  graphene_rect_t bounds = grect(box.inset({-2, -2, -2, -2}));
  cairo_t* cr = gtk_snapshot_append_cairo(snapshot, &bounds);
  cairo_set_source_rgba(cr, kChevron.red, kChevron.green, kChevron.blue, kChevron.alpha);
  cairo_set_line_width(cr, 2.5);
  cairo_move_to(cr, box.x() + 2, box.y());
  cairo_line_to(cr, box.maxX() - 2, box.y() + box.height() / 2);
  cairo_line_to(cr, box.x() + 2, box.maxY());
  cairo_stroke(cr);
  cairo_destroy(cr);
}

void recordPart(DrawnPart::Kind kind, const std::string& what, const ui::Rect& rect) {
  const ui::Rect shown = rect.intersection(drawingClip);
  if (!shown.isEmpty()) drawnParts.push_back({kind, what, shown});
}

// Draws an image without counting it among the parts (a background).
void paintImage(GtkSnapshot* snapshot, const ui::Image& image, const ui::Rect& rect) {
  GdkTexture* texture = textureNamed(image.name());
  if (!texture || rect.isEmpty()) return;
  const bool upsideDown = image.orientation() == ui::ImageOrientation::Down ||
                          image.orientation() == ui::ImageOrientation::DownMirrored;
  gtk_snapshot_save(snapshot);
  if (upsideDown) {
    graphene_point_t centre = GRAPHENE_POINT_INIT(float(rect.x() + rect.width() / 2), float(rect.y() + rect.height() / 2));
    gtk_snapshot_translate(snapshot, &centre);
    gtk_snapshot_rotate(snapshot, 180);
    graphene_point_t back = GRAPHENE_POINT_INIT(-centre.x, -centre.y);
    gtk_snapshot_translate(snapshot, &back);
  }
  graphene_rect_t bounds = grect(rect);
  gtk_snapshot_append_texture(snapshot, texture, &bounds);
  gtk_snapshot_restore(snapshot);
}

}  // namespace

// One line of text in `rect` (ellipsized), or wrapped lines when `wrap`.
void drawText(GtkSnapshot* snapshot, GtkWidget* widget, const std::string& text, const ui::Font& font,
              const GdkRGBA& colour, const ui::Rect& rect, Align align, bool wrap) {
  if (text.empty() || rect.width() <= 0) return;
  PangoLayout* layout = layoutFor(widget, text, font);
  pango_layout_set_width(layout, int(rect.width() * PANGO_SCALE));
  if (wrap) {
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  } else {
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
  }
  pango_layout_set_alignment(layout, align == Align::Left    ? PANGO_ALIGN_LEFT
                                     : align == Align::Right ? PANGO_ALIGN_RIGHT
                                                             : PANGO_ALIGN_CENTER);
  int width = 0;
  int height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  const double y = wrap ? rect.y() : rect.y() + (rect.height() - height) / 2;
  PangoRectangle ink;
  pango_layout_get_pixel_extents(layout, &ink, nullptr);
  if (ink.width > 0) recordPart(DrawnPart::Kind::Text, text, ui::Rect(rect.x() + ink.x, y + ink.y, ink.width, ink.height));
  gtk_snapshot_save(snapshot);
  graphene_point_t at = GRAPHENE_POINT_INIT(float(rect.x()), float(y));
  gtk_snapshot_translate(snapshot, &at);
  gtk_snapshot_append_layout(snapshot, layout, &colour);
  gtk_snapshot_restore(snapshot);
  g_object_unref(layout);
}

void drawImage(GtkSnapshot* snapshot, const ui::Image& image, const ui::Rect& rect) {
  paintImage(snapshot, image, rect);
  if (textureNamed(image.name()) && !rect.isEmpty()) recordPart(DrawnPart::Kind::Image, image.name(), rect);
}

void fill(GtkSnapshot* snapshot, const GdkRGBA& colour, const ui::Rect& rect) {
  graphene_rect_t bounds = grect(rect);
  gtk_snapshot_append_color(snapshot, &colour, &bounds);
}

void drawSpinner(GtkSnapshot* snapshot, const ui::Rect& rect, const GdkRGBA& colour) {
  const double size = std::min(rect.width(), rect.height());
  if (size <= 0) return;
  graphene_rect_t bounds = grect(rect);
  cairo_t* cr = gtk_snapshot_append_cairo(snapshot, &bounds);
  const double cx = rect.x() + rect.width() / 2;
  const double cy = rect.y() + rect.height() / 2;
  const int phase = int(canvasClock() * 12) % 12;
  cairo_set_line_width(cr, std::max(1.5, size / 10));
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  for (int i = 0; i < 12; ++i) {
    const double angle = i * M_PI / 6;
    const double fade = double((i - phase + 12) % 12) / 12.0;
    cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue, 0.25 + 0.75 * fade);
    cairo_move_to(cr, cx + std::cos(angle) * size * 0.25, cy + std::sin(angle) * size * 0.25);
    cairo_line_to(cr, cx + std::cos(angle) * size * 0.45, cy + std::sin(angle) * size * 0.45);
    cairo_stroke(cr);
  }
  cairo_destroy(cr);
}

Align alignOf(ui::TextAlignment alignment) {
  switch (alignment) {
    case ui::TextAlignment::Left: return Align::Left;
    case ui::TextAlignment::Center: return Align::Centre;
    case ui::TextAlignment::Right: return Align::Right;
  }
  return Align::Left;
}

void drawButton(GtkSnapshot* snapshot, GtkWidget* widget, ui::Button& button, const ui::Rect& rect) {
  const unsigned state = ui::kControlStateNormal;
  const ui::Image image = button.imageForState(state);
  const std::string title = button.titleForState(state);
  const ui::Size imageSize = image.isNull() ? ui::Size{} : image.size();
  const ui::Size titleSize = title.empty() ? ui::Size{} : textSize(widget, title, button.titleFont());
  const ButtonLayout layout = layoutButton(button, rect, imageSize, titleSize);
  if (layout.image) drawImage(snapshot, image, *layout.image);
  if (layout.title) {
    const ui::Rect at(layout.title->x(), layout.title->y(), layout.title->width() + 2, layout.title->height());
    const GdkRGBA colour = button.buttonType() == ui::ButtonType::Custom ? kWhite : kAlertButtonText;
    drawText(snapshot, widget, title, button.titleFont(), colour, at, Align::Left);
  }
}

void drawNavigationBar(GtkSnapshot* snapshot, GtkWidget* widget, ui::NavigationBar& bar, const ui::Rect& rect) {
  const ui::Image background = bar.backgroundImage(ui::BarMetrics::Default);
  if (!textureNamed(background.name())) fill(snapshot, kBarFallback, rect);
  paintImage(snapshot, background, rect);
  ui::NavigationItem* item = bar.topItem();
  if (item && !item->titleView() && !item->title().empty()) {
    drawText(snapshot, widget, item->title(), ui::Font::boldSystemFont(18), kWhite, rect.inset({0, 70, 0, 70}),
             Align::Centre);
  }
}

void drawRow(GtkSnapshot* snapshot, GtkWidget* widget, ui::TableView& table, int row, const ui::Rect& rect) {
  auto cell = table.cellForRow({0, row});
  const bool selected = table.indexPathForSelectedRow() == ui::IndexPath{0, row};
  fill(snapshot, selected ? kRowSelected : kCanvasBackground, rect);
  if (!cell) return;
  if (cell->backgroundColor().alpha > 0) fill(snapshot, rgba(cell->backgroundColor()), rect);
  const double indent = 15 + cell->indentationLevel() * cell->indentationWidth();
  const bool disclosure = cell->accessoryType() == ui::TableViewCellAccessory::DisclosureIndicator;
  const ui::Rect text(rect.x() + indent, rect.y(), rect.width() - indent - (disclosure ? 34 : 10), rect.height());
  const ui::Label& label = cell->textLabel();
  drawText(snapshot, widget, label.text(), ui::Font::boldSystemFont(label.font().pointSize), rgba(label.textColor()), text,
           Align::Left);
  if (disclosure) drawChevron(snapshot, rect);
  fill(snapshot, kRowSeparator, ui::Rect(rect.x() + 15, rect.maxY() - 1, rect.width() - 15, 1));
}

// Around the control the keyboard is on.
void drawFocusRing(GtkSnapshot* snapshot, const ui::Rect& rect) {
  constexpr float kWidth = 2;
  GskRoundedRect outline;
  graphene_rect_t bounds = grect(rect.inset({-1, -1, -1, -1}));
  gsk_rounded_rect_init_from_rect(&outline, &bounds, 4);
  const float widths[4] = {kWidth, kWidth, kWidth, kWidth};
  const GdkRGBA colours[4] = {kAlertButtonText, kAlertButtonText, kAlertButtonText, kAlertButtonText};
  gtk_snapshot_append_border(snapshot, &outline, widths, colours);
}

void drawAlert(GtkSnapshot* snapshot, GtkWidget* widget, ui::AlertView& alert, ui::Size canvas) {
  const AlertLayout layout = layoutAlert(alert, canvas);
  GskRoundedRect box;
  graphene_rect_t bounds = grect(layout.box);
  gsk_rounded_rect_init_from_rect(&box, &bounds, 10);
  gtk_snapshot_push_rounded_clip(snapshot, &box);
  fill(snapshot, kAlertBox, layout.box);
  drawText(snapshot, widget, alert.title(), ui::Font::boldSystemFont(17), kAlertText, layout.title, Align::Centre);
  drawText(snapshot, widget, alert.message(), ui::Font::systemFont(14), kAlertText, layout.message, Align::Centre, true);
  for (std::size_t i = 0; i < layout.buttons.size(); ++i) {
    const ui::Rect& button = layout.buttons[i];
    fill(snapshot, kRowSeparator, ui::Rect(button.x(), button.y(), button.width(), 1));
    if (i > 0 && button.y() == layout.buttons[i - 1].y()) {
      fill(snapshot, kRowSeparator, ui::Rect(button.x(), button.y(), 1, button.height()));
    }
    const bool cancel = int(i) == alert.cancelButtonIndex();
    drawText(snapshot, widget, alert.buttonTitleAtIndex(int(i)), cancel ? ui::Font::boldSystemFont(17) : ui::Font::systemFont(17),
             kAlertButtonText, button, Align::Centre);
  }
  gtk_snapshot_pop(snapshot);
}

}  // namespace gtk
