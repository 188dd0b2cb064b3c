#include "canvas.hpp"

#include <gtk/gtk.h>

#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "accessible_overlay.hpp"
#include "overscroll_pull.hpp"
#include "view_transition.hpp"
#include "platform/bundle.hpp"
#include "platform/ui/control.hpp"
#include "platform/ui/gesture_recognizer.hpp"
#include "platform/ui/label.hpp"
#include "platform/ui/search_bar.hpp"
#include "platform/ui/table_view.hpp"
#include "web_view.hpp"

namespace gtk {

namespace {

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

// A pointer that moves less than this is a tap, not a drag.
constexpr double kDragSlop = 8;

GdkRGBA rgba(const ui::Color& c) {
  return GdkRGBA{float(c.red), float(c.green), float(c.blue), float(c.alpha)};
}

graphene_rect_t grect(const ui::Rect& r) {
  return GRAPHENE_RECT_INIT(float(r.x()), float(r.y()), float(r.width()), float(r.height()));
}

// Images of the bundle by name; a missing file is looked for again later
// (the resources may be installed while the program runs).
// Pixels per point of the frame being drawn (the window's scale factor).
int drawingScale = 1;
// The image files the frame being drawn used.
std::set<std::string> drawnFiles;

// "menu_white.png" at scale 2 is "menu_white@2x.png".
std::string scaledName(const std::string& name, int scale) {
  if (scale < 2) return name;
  const auto dot = name.rfind('.');
  const std::string suffix = "@" + std::to_string(scale) + "x";
  return dot == std::string::npos ? name + suffix : name.substr(0, dot) + suffix + name.substr(dot);
}

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

enum class Align { Left, Centre, Right };

// One line of text in `rect` (ellipsized), or wrapped lines when `wrap`.
void drawText(GtkSnapshot* snapshot, GtkWidget* widget, const std::string& text, const ui::Font& font,
              const GdkRGBA& colour, const ui::Rect& rect, Align align, bool wrap = false) {
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
  gtk_snapshot_save(snapshot);
  graphene_point_t at = GRAPHENE_POINT_INIT(float(rect.x()), float(y));
  gtk_snapshot_translate(snapshot, &at);
  gtk_snapshot_append_layout(snapshot, layout, &colour);
  gtk_snapshot_restore(snapshot);
  g_object_unref(layout);
}

void drawImage(GtkSnapshot* snapshot, const ui::Image& image, const ui::Rect& rect) {
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
  drawImage(snapshot, background, rect);
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

}  // namespace

double canvasClock() { return double(g_get_monotonic_time()) / 1e6; }

struct SearchField {
  std::weak_ptr<ui::View> bar;
  GtkWidget* entry = nullptr;
};

struct Canvas::Impl {
  Canvas& owner;
  FrameAnimator& animator;
  GtkWidget* widget = nullptr;
  std::weak_ptr<ui::View> root;
  std::vector<DisplayItem> items;
  std::vector<SearchField> searchFields;
  bool searchFocusWanted = false;
  bool inLayout = false;
  bool syncingText = false;
  OverscrollPull overscroll;
  // Where the pointer is; X11 scroll events carry no position of their own.
  std::optional<ui::Point> pointer;
  std::function<void(ui::WebView&)> onPull;
  guint tick = 0;
  // Transitions being drawn, with the picture each view showed when it began.
  struct RunningTransition {
    ViewTransition transition;
    GdkPaintable* picture = nullptr;
    ui::Size pictureSize;
    ui::Rect place;  // where the view was shown, on the canvas
  };
  std::vector<RunningTransition> transitions;
  std::vector<std::string> drawnImages;  // by the last frame

  AccessibleOverlay overlay{[this](ui::Point point) { tap(point); },
                            [this] { gtk_widget_queue_draw(widget); }};

  // The drag in progress.
  struct Drag {
    bool active = false;
    ui::Point start;
    std::weak_ptr<ui::View> target;
    ui::PanGestureRecognizer* pan = nullptr;  // checked against its view before each use
    std::weak_ptr<ui::View> panView;
    ui::SwipeGestureRecognizer* swipe = nullptr;
    std::weak_ptr<ui::View> swipeView;
    bool panStarted = false;
    VelocityTracker velocity;
  } drag;

  Impl(Canvas& owner, FrameAnimator& animator) : owner(owner), animator(animator) {}

  ui::Rect frameOf(const ui::View& view) const {
    const ui::Rect frame = animator.presentationFrame(view, canvasClock());
    const RunningTransition* running = transitionOf(&view);
    if (!running) return frame;
    const ui::Point offset = running->transition.offsetsAt(canvasClock(), running->place.size).content;
    return frame.offsetBy(offset.x, offset.y);
  }

  const RunningTransition* transitionOf(const ui::View* view) const {
    for (const RunningTransition& running : transitions) {
      if (running.transition.view().lock().get() == view) return &running;
    }
    return nullptr;
  }

  bool animationsEnabled() const {
    gboolean enabled = TRUE;
    g_object_get(gtk_widget_get_settings(widget), "gtk-enable-animations", &enabled, nullptr);
    return enabled;
  }

  bool beginTransition(ui::View& view, const ui::LayerAnimation& animation) {
    if (animation.kind != ui::LayerAnimation::Kind::Transition) return false;
    ViewTransition transition(view.weak_from_this(), animation, canvasClock());
    if (!transition.moves() || !animationsEnabled()) return false;
    const auto shown = std::find_if(items.begin(), items.end(),
                                    [&](const DisplayItem& item) { return item.view.lock().get() == &view; });
    const int width = gtk_widget_get_width(widget);
    const int height = gtk_widget_get_height(widget);
    if (shown == items.end() || width <= 0 || height <= 0) return false;
    // What the canvas shows now, before the model moves on.
    GdkPaintable* live = gtk_widget_paintable_new(widget);
    GdkPaintable* picture = gdk_paintable_get_current_image(live);
    g_object_unref(live);
    endTransitions([&](const RunningTransition& running) { return running.transition.view().lock().get() == &view; });
    transitions.push_back({transition, picture, {double(width), double(height)}, shown->rect.intersection(shown->clip)});
    owner.modelChanged();
    return true;
  }

  template <class Predicate>
  void endTransitions(Predicate ended) {
    std::erase_if(transitions, [&](RunningTransition& running) {
      if (!ended(running)) return false;
      g_object_unref(running.picture);
      return true;
    });
  }

  void drawPicture(GtkSnapshot* snapshot, const RunningTransition& running, ui::Point offset) {
    graphene_rect_t clip = grect(running.place);
    gtk_snapshot_push_clip(snapshot, &clip);
    graphene_point_t at = GRAPHENE_POINT_INIT(float(offset.x), float(offset.y));
    gtk_snapshot_save(snapshot);
    gtk_snapshot_translate(snapshot, &at);
    gdk_paintable_snapshot(running.picture, snapshot, running.pictureSize.width, running.pictureSize.height);
    gtk_snapshot_restore(snapshot);
    gtk_snapshot_pop(snapshot);
  }

  // Whether the item belongs to `view`'s part of the tree.
  static bool within(const DisplayItem& item, const ui::View* view) {
    auto shown = item.view.lock();
    if (!shown) return false;
    for (ui::View* v : viewChain(shown.get())) {
      if (v == view) return true;
    }
    return false;
  }

  // The old pictures of running transitions, under or over their views' items.
  void drawPictures(GtkSnapshot* snapshot, std::size_t index) {
    const double now = canvasClock();
    for (const RunningTransition& running : transitions) {
      auto view = running.transition.view().lock();
      if (!view) continue;
      const TransitionOffsets offsets = running.transition.offsetsAt(now, running.place.size);
      bool drawHere = false;
      if (offsets.pictureOnTop) {
        const bool here = index < items.size() && within(items[index], view.get());
        drawHere = index > 0 && within(items[index - 1], view.get()) && !here;
      } else {
        // Right over the view's container: the view itself may still be wholly off the canvas.
        ui::View* container = view->superview();
        drawHere = container ? index > 0 && items[index - 1].view.lock().get() == container : index == 0;
      }
      if (drawHere) drawPicture(snapshot, running, offsets.picture);
    }
  }

  void relayout(int width, int height) {
    auto model = root.lock();
    inLayout = true;
    if (model && model->superview() == nullptr && model->frame().size != ui::Size{double(width), double(height)}) {
      model->setFrame(ui::Rect(model->frame().origin, {double(width), double(height)}));
    }
    inLayout = false;
    items = buildDisplayList(model.get(), {double(width), double(height)},
                             [this](const ui::View& view) { return frameOf(view); });
    overlay.update(accessibleTree(items));
    placeNatives(width, height);
  }

  GtkWidget* searchEntryFor(const std::shared_ptr<ui::View>& bar) {
    for (const auto& field : searchFields) {
      if (field.bar.lock() == bar) return field.entry;
    }
    GtkWidget* entry = gtk_search_entry_new();
    gtk_accessible_update_property(GTK_ACCESSIBLE(entry), GTK_ACCESSIBLE_PROPERTY_LABEL, "Søk", -1);
    gtk_widget_set_parent(entry, widget);
    g_signal_connect(entry, "activate", G_CALLBACK(+[](GtkSearchEntry* e, gpointer data) {
                       auto* self = static_cast<Impl*>(data);
                       if (auto bar = self->searchBarOf(GTK_WIDGET(e))) {
                         self->takeText(*bar, GTK_WIDGET(e));
                         bar->tapSearchButton();
                       }
                     }),
                     this);
    g_signal_connect(entry, "search-changed", G_CALLBACK(+[](GtkSearchEntry* e, gpointer data) {
                       auto* self = static_cast<Impl*>(data);
                       if (auto bar = self->searchBarOf(GTK_WIDGET(e))) self->takeText(*bar, GTK_WIDGET(e));
                     }),
                     this);
    searchFields.push_back({bar, entry});
    return entry;
  }

  std::shared_ptr<ui::SearchBar> searchBarOf(GtkWidget* entry) {
    for (const auto& field : searchFields) {
      if (field.entry == entry) return std::dynamic_pointer_cast<ui::SearchBar>(field.bar.lock());
    }
    return nullptr;
  }

  void takeText(ui::SearchBar& bar, GtkWidget* entry) {
    if (syncingText) return;
    const std::string text = gtk_editable_get_text(GTK_EDITABLE(entry));
    if (text != bar.text()) bar.type(text);
  }

  static void allocateChild(GtkWidget* child, const ui::Rect& rect) {
    int minimumWidth = 0;
    int minimumHeight = 0;
    gtk_widget_measure(child, GTK_ORIENTATION_HORIZONTAL, -1, &minimumWidth, nullptr, nullptr, nullptr);
    gtk_widget_measure(child, GTK_ORIENTATION_VERTICAL, -1, &minimumHeight, nullptr, nullptr, nullptr);
    GtkAllocation allocation{int(std::lround(rect.x())), int(std::lround(rect.y())),
                             std::max(minimumWidth, int(std::lround(rect.width()))),
                             std::max(minimumHeight, int(std::lround(rect.height())))};
    gtk_widget_size_allocate(child, &allocation, -1);
  }

  void placeNatives(int width, int height) {
    // Fields whose search bar is gone leave the canvas.
    std::erase_if(searchFields, [](const SearchField& field) {
      if (!field.bar.expired()) return false;
      gtk_widget_unparent(field.entry);
      return true;
    });
    const bool alertShown = !ui::AlertView::visibleAlerts().empty();
    std::vector<GtkWidget*> placed;
    for (const DisplayItem& item : items) {
      auto view = item.view.lock();
      if (!view) continue;
      GtkWidget* child = nullptr;
      if (item.kind == ItemKind::WebView) {
        auto* web = dynamic_cast<gtk::WebView*>(view.get());
        if (!web) continue;
        child = web->widget();
        if (gtk_widget_get_parent(child) != widget) {
          if (gtk_widget_get_parent(child)) gtk_widget_unparent(child);
          gtk_widget_set_parent(child, widget);
        }
      } else if (item.kind == ItemKind::SearchField) {
        child = searchEntryFor(view);
        auto* bar = static_cast<ui::SearchBar*>(view.get());
        const char* shown = gtk_editable_get_text(GTK_EDITABLE(child));
        if (bar->text() != shown && !gtk_widget_has_focus(child)) {
          syncingText = true;
          gtk_editable_set_text(GTK_EDITABLE(child), bar->text().c_str());
          syncingText = false;
        }
        if (!bar->placeholder().empty()) g_object_set(child, "placeholder-text", bar->placeholder().c_str(), nullptr);
        if (std::exchange(searchFocusWanted, false)) gtk_widget_grab_focus(child);
      } else {
        continue;
      }
      gtk_widget_set_child_visible(child, TRUE);
      gtk_widget_set_can_target(child, item.interactive && !alertShown);
      gtk_widget_set_opacity(child, item.opacity);
      allocateChild(child, item.rect);
      placed.push_back(child);
    }
    allocateChild(overlay.widget(), ui::Rect(0, 0, width, height));
    placed.push_back(overlay.widget());
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
      if (std::find(placed.begin(), placed.end(), child) == placed.end()) gtk_widget_set_child_visible(child, FALSE);
    }
  }

  void draw(GtkSnapshot* snapshot) {
    const int width = gtk_widget_get_width(widget);
    const int height = gtk_widget_get_height(widget);
    fill(snapshot, kCanvasBackground, ui::Rect(0, 0, width, height));
    for (std::size_t index = 0; index < items.size(); ++index) {
      const DisplayItem& item = items[index];
      if (!transitions.empty()) drawPictures(snapshot, index);
      graphene_rect_t clip = grect(item.clip);
      gtk_snapshot_push_clip(snapshot, &clip);
      const bool faded = item.opacity < 0.999;
      if (faded) gtk_snapshot_push_opacity(snapshot, item.opacity);
      drawItem(snapshot, item, {double(width), double(height)});
      if (faded) gtk_snapshot_pop(snapshot);
      gtk_snapshot_pop(snapshot);
    }
    if (!transitions.empty()) drawPictures(snapshot, items.size());
    if (auto ring = overlay.focusRing()) drawFocusRing(snapshot, *ring);
  }

  void drawShadow(GtkSnapshot* snapshot, ui::View& view, const ui::Rect& rect) {
    const ui::Layer& layer = view.layer();
    if (layer.shadowOpacity() <= 0) return;
    const ui::Rect path = layer.shadowPath() ? layer.shadowPath()->offsetBy(rect.x(), rect.y()) : rect;
    GskRoundedRect outline;
    graphene_rect_t bounds = grect(path);
    gsk_rounded_rect_init_from_rect(&outline, &bounds, 0);
    GdkRGBA colour = rgba(layer.shadowColor());
    colour.alpha *= float(layer.shadowOpacity());
    // Wider than the model's radius so the edge reads on a desktop screen.
    gtk_snapshot_append_outset_shadow(snapshot, &outline, &colour, float(layer.shadowOffset().width),
                                      float(layer.shadowOffset().height), 0, float(layer.shadowRadius() * 4));
  }

  void drawItem(GtkSnapshot* snapshot, const DisplayItem& item, ui::Size canvas) {
    if (item.kind == ItemKind::AlertDim) return fill(snapshot, kAlertVeil, item.rect);
    if (item.kind == ItemKind::AlertBox) {
      if (auto alert = item.alert.lock()) drawAlert(snapshot, widget, *alert, canvas);
      return;
    }
    if (item.kind == ItemKind::AlertButton) return;
    auto view = item.view.lock();
    if (!view) return;
    if (item.kind == ItemKind::TableRow) {
      return drawRow(snapshot, widget, static_cast<ui::TableView&>(*view), item.row, item.rect);
    }
    drawShadow(snapshot, *view, item.rect);
    if (view->backgroundColor().alpha > 0) fill(snapshot, rgba(view->backgroundColor()), item.rect);
    switch (item.kind) {
      case ItemKind::Label: {
        auto& label = static_cast<ui::Label&>(*view);
        drawText(snapshot, widget, label.text(), label.font(), rgba(label.textColor()), item.rect,
                 alignOf(label.textAlignment()));
        break;
      }
      case ItemKind::Image:
        drawImage(snapshot, static_cast<ui::ImageView&>(*view).image(), item.rect);
        break;
      case ItemKind::Button:
        drawButton(snapshot, widget, static_cast<ui::Button&>(*view), item.rect);
        break;
      case ItemKind::Spinner: {
        auto& spinner = static_cast<ui::ActivityIndicatorView&>(*view);
        drawSpinner(snapshot, item.rect, spinner.style() == ui::ActivityIndicatorStyle::Gray ? GdkRGBA{0.4, 0.4, 0.4, 1} : kWhite);
        break;
      }
      case ItemKind::NavigationBar:
        drawNavigationBar(snapshot, widget, static_cast<ui::NavigationBar&>(*view), item.rect);
        break;
      case ItemKind::Toolbar:
        fill(snapshot, kToolbarFill, item.rect);
        fill(snapshot, kToolbarBorder, ui::Rect(item.rect.x(), item.rect.y(), item.rect.width(), 1));
        break;
      case ItemKind::WebView:
        if (auto* web = dynamic_cast<gtk::WebView*>(view.get())) gtk_widget_snapshot_child(widget, web->widget(), snapshot);
        break;
      case ItemKind::SearchField:
        for (const auto& field : searchFields) {
          if (field.bar.lock() == view) gtk_widget_snapshot_child(widget, field.entry, snapshot);
        }
        break;
      default:
        break;
    }
  }

  bool needsFrames() const {
    if (animator.isAnimating() || !transitions.empty()) return true;
    for (const DisplayItem& item : items) {
      if (item.kind == ItemKind::Spinner) return true;
    }
    return false;
  }

  // --- input ---

  bool tap(ui::Point point) {
    const DisplayItem* item = hitTest(items, point);
    if (!item) return false;
    switch (item->kind) {
      case ItemKind::AlertButton:
        if (auto alert = item->alert.lock()) alert->dismissWithClickedButtonIndex(item->row);
        return true;
      case ItemKind::AlertDim:
      case ItemKind::AlertBox:
      case ItemKind::WebView:
      case ItemKind::SearchField:
        return true;
      case ItemKind::TableRow:
        if (auto table = std::dynamic_pointer_cast<ui::TableView>(item->view.lock())) table->tapRow({0, item->row});
        return true;
      default:
        break;
    }
    auto view = item->view.lock();
    if (!view) return false;
    if (auto* button = dynamic_cast<ui::Button*>(view.get())) {
      button->tap();
      return true;
    }
    for (ui::View* v : viewChain(view.get())) {
      for (const auto& recognizer : std::vector(v->gestureRecognizers())) {
        if (auto* tapRecognizer = dynamic_cast<ui::TapGestureRecognizer*>(recognizer.get())) {
          if (tapRecognizer->tap(point)) return true;
        }
      }
    }
    return false;
  }

  void dragBegin(ui::Point start) {
    drag = Drag{};
    drag.active = true;
    drag.start = start;
    drag.velocity.add(canvasClock(), start);
    const DisplayItem* item = hitTest(items, start);
    if (!item) return;
    auto view = item->view.lock();
    if (!view) return;
    for (ui::View* v : viewChain(view.get())) {
      for (const auto& recognizer : v->gestureRecognizers()) {
        if (!recognizer->isEnabled()) continue;
        if (auto* pan = dynamic_cast<ui::PanGestureRecognizer*>(recognizer.get()); pan && !drag.pan) {
          drag.pan = pan;
          drag.panView = v->weak_from_this();
        }
        if (auto* swipe = dynamic_cast<ui::SwipeGestureRecognizer*>(recognizer.get()); swipe && !drag.swipe) {
          drag.swipe = swipe;
          drag.swipeView = v->weak_from_this();
        }
      }
    }
  }

  // The recognizer, if its view still holds it.
  template <class R>
  R* live(R* recognizer, const std::weak_ptr<ui::View>& view) {
    auto holder = view.lock();
    if (!recognizer || !holder || !holder->hasGestureRecognizer(recognizer)) return nullptr;
    return recognizer;
  }

  // Answers whether the drag now belongs to the container (claim it).
  bool dragUpdate(ui::Point now) {
    if (!drag.active) return false;
    drag.velocity.add(canvasClock(), now);
    auto* pan = live(drag.pan, drag.panView);
    if (!pan) return false;
    const ui::Point velocity = drag.velocity.velocity();
    if (!drag.panStarted) {
      if (std::hypot(now.x - drag.start.x, now.y - drag.start.y) < kDragSlop) return false;
      drag.panStarted = true;
      pan->touchDown(drag.start);
    }
    pan->touchMoved(now, velocity);
    return pan->state() == ui::GestureRecognizerState::Began || pan->state() == ui::GestureRecognizerState::Changed;
  }

  void dragEnd(ui::Point end) {
    if (!drag.active) return;
    drag.velocity.add(canvasClock(), end);
    const ui::Point velocity = drag.velocity.velocity();
    bool panned = false;
    if (auto* pan = live(drag.pan, drag.panView); pan && drag.panStarted) {
      pan->touchUp(end, velocity);
      // The release may have let the recognizer go; look it up again.
      pan = live(drag.pan, drag.panView);
      panned = !pan || pan->state() == ui::GestureRecognizerState::Ended;
    }
    const double dx = end.x - drag.start.x;
    const double dy = end.y - drag.start.y;
    if (auto* swipe = live(drag.swipe, drag.swipeView); swipe && !panned && std::abs(dx) > 40 && std::abs(dx) > 2 * std::abs(dy)) {
      swipe->swipe(dx > 0 ? ui::kSwipeDirectionRight : ui::kSwipeDirectionLeft, end);
    }
    drag = Drag{};
  }

  // Where a scroll event happened on the canvas: its own position (surface
  // coordinates; the canvas fills the window) or else the pointer's.
  std::optional<ui::Point> scrollPosition(GtkEventController* controller) const {
    GdkEvent* event = gtk_event_controller_get_current_event(controller);
    double x = 0;
    double y = 0;
    if (event && gdk_event_get_position(event, &x, &y) && std::isfinite(x) && std::isfinite(y)) return ui::Point{x, y};
    return pointer;
  }

  // Scrolling over a page: WebKit scrolls it; past its top it is a pull.
  void pageScroll(ui::Point at, double dy, ScrollUnit unit) {
    const DisplayItem* item = hitTest(items, at);
    if (!item || item->kind != ItemKind::WebView) return;
    auto view = item->view.lock();
    auto* web = dynamic_cast<gtk::WebView*>(view.get());
    if (!web) return;
    if (overscroll.scrolled(canvasClock(), dy, unit, web->isScrolledToTop()) && onPull) onPull(*web);
  }

  void scroll(ui::Point at, double dy) {
    const DisplayItem* item = hitTest(items, at);
    if (!item) return;
    auto view = item->view.lock();
    for (ui::View* v : viewChain(view.get())) {
      auto* table = dynamic_cast<ui::TableView*>(v);
      if (!table) continue;
      double content = 0;
      auto delegate = table->delegate();
      for (int row = 0, rows = table->numberOfRows(0); row < rows; ++row) {
        content += delegate ? delegate->heightForRow(*table, {0, row}) : 44;
      }
      const double limit = std::max(0.0, content - table->bounds().height());
      const double y = std::clamp(table->contentOffset().y + dy * 40, 0.0, limit);
      table->setContentOffset({table->contentOffset().x, y}, false);
      return;
    }
  }
};

// --- the GtkWidget subclass ---

G_BEGIN_DECLS
#define VV_TYPE_CANVAS (vv_canvas_get_type())
G_DECLARE_FINAL_TYPE(VvCanvas, vv_canvas, VV, CANVAS, GtkWidget)
G_END_DECLS

struct _VvCanvas {
  GtkWidget parent;
  Canvas::Impl* impl;
};

G_DEFINE_TYPE(VvCanvas, vv_canvas, GTK_TYPE_WIDGET)

static void vv_canvas_size_allocate(GtkWidget* widget, int width, int height, int) {
  if (auto* impl = VV_CANVAS(widget)->impl) impl->relayout(width, height);
}

static void vv_canvas_snapshot(GtkWidget* widget, GtkSnapshot* snapshot) {
  drawingScale = gtk_widget_get_scale_factor(widget);
  drawnFiles.clear();
  if (auto* impl = VV_CANVAS(widget)->impl) {
    impl->draw(snapshot);
    impl->drawnImages.assign(drawnFiles.begin(), drawnFiles.end());
  }
}

static void vv_canvas_measure(GtkWidget*, GtkOrientation, int, int* minimum, int* natural, int* minimumBaseline,
                              int* naturalBaseline) {
  *minimum = 0;
  *natural = 0;
  *minimumBaseline = -1;
  *naturalBaseline = -1;
}

static void vv_canvas_dispose(GObject* object) {
  GtkWidget* widget = GTK_WIDGET(object);
  while (GtkWidget* child = gtk_widget_get_first_child(widget)) gtk_widget_unparent(child);
  G_OBJECT_CLASS(vv_canvas_parent_class)->dispose(object);
}

static void vv_canvas_class_init(VvCanvasClass* klass) {
  GTK_WIDGET_CLASS(klass)->size_allocate = vv_canvas_size_allocate;
  GTK_WIDGET_CLASS(klass)->snapshot = vv_canvas_snapshot;
  GTK_WIDGET_CLASS(klass)->measure = vv_canvas_measure;
  G_OBJECT_CLASS(klass)->dispose = vv_canvas_dispose;
}

static void vv_canvas_init(VvCanvas* canvas) { canvas->impl = nullptr; }

namespace {

gboolean onTick(GtkWidget* widget, GdkFrameClock*, gpointer data) {
  auto* impl = static_cast<Canvas::Impl*>(data);
  const bool moving = impl->animator.isAnimating() || !impl->transitions.empty();
  impl->animator.advance(canvasClock());
  const double now = canvasClock();
  impl->endTransitions([now](const auto& running) { return running.transition.hasEnded(now); });
  if (moving || impl->needsFrames()) gtk_widget_queue_allocate(widget);
  return G_SOURCE_CONTINUE;
}

ui::Point pointOf(double x, double y) { return {x, y}; }

}  // namespace

Canvas::Canvas(FrameAnimator& animator) : impl_(std::make_unique<Impl>(*this, animator)) {
  Impl* impl = impl_.get();
  impl->widget = GTK_WIDGET(g_object_new(VV_TYPE_CANVAS, nullptr));
  g_object_ref_sink(impl->widget);
  VV_CANVAS(impl->widget)->impl = impl;
  // The keyboard goes to the controls' stand-ins and the native widgets.
  gtk_widget_set_parent(impl->overlay.widget(), impl->widget);
  gtk_widget_set_overflow(impl->widget, GTK_OVERFLOW_HIDDEN);

  GtkGesture* click = gtk_gesture_click_new();
  g_signal_connect(click, "released", G_CALLBACK(+[](GtkGestureClick*, int, double x, double y, gpointer data) {
                     static_cast<Impl*>(data)->tap(pointOf(x, y));
                   }),
                   impl);
  gtk_widget_add_controller(impl->widget, GTK_EVENT_CONTROLLER(click));

  // Capture phase: a drag that starts on a web page can still move the front.
  GtkGesture* drag = gtk_gesture_drag_new();
  gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(drag), GTK_PHASE_CAPTURE);
  g_signal_connect(drag, "drag-begin", G_CALLBACK(+[](GtkGestureDrag*, double x, double y, gpointer data) {
                     static_cast<Impl*>(data)->dragBegin(pointOf(x, y));
                   }),
                   impl);
  g_signal_connect(drag, "drag-update", G_CALLBACK(+[](GtkGestureDrag* gesture, double dx, double dy, gpointer data) {
                     double x = 0;
                     double y = 0;
                     gtk_gesture_drag_get_start_point(gesture, &x, &y);
                     if (static_cast<Impl*>(data)->dragUpdate(pointOf(x + dx, y + dy))) {
                       gtk_gesture_set_state(GTK_GESTURE(gesture), GTK_EVENT_SEQUENCE_CLAIMED);
                     }
                   }),
                   impl);
  g_signal_connect(drag, "drag-end", G_CALLBACK(+[](GtkGestureDrag* gesture, double dx, double dy, gpointer data) {
                     double x = 0;
                     double y = 0;
                     gtk_gesture_drag_get_start_point(gesture, &x, &y);
                     static_cast<Impl*>(data)->dragEnd(pointOf(x + dx, y + dy));
                   }),
                   impl);
  gtk_widget_add_controller(impl->widget, GTK_EVENT_CONTROLLER(drag));

  GtkEventController* scroll = gtk_event_controller_scroll_new(GTK_EVENT_CONTROLLER_SCROLL_VERTICAL);
  g_signal_connect(scroll, "scroll", G_CALLBACK(+[](GtkEventControllerScroll* controller, double, double dy, gpointer data) -> gboolean {
                     auto* impl = static_cast<Impl*>(data);
                     const auto at = impl->scrollPosition(GTK_EVENT_CONTROLLER(controller));
                     if (!at) return FALSE;
                     impl->scroll(*at, dy);
                     return TRUE;
                   }),
                   impl);
  gtk_widget_add_controller(impl->widget, scroll);

  // Capture phase, and never claimed: the page under the pointer still scrolls.
  GtkEventController* pull = gtk_event_controller_scroll_new(GTK_EVENT_CONTROLLER_SCROLL_VERTICAL);
  gtk_event_controller_set_propagation_phase(pull, GTK_PHASE_CAPTURE);
  g_signal_connect(pull, "scroll", G_CALLBACK(+[](GtkEventControllerScroll* controller, double, double dy, gpointer data) -> gboolean {
                     auto* impl = static_cast<Impl*>(data);
                     const auto at = impl->scrollPosition(GTK_EVENT_CONTROLLER(controller));
                     if (!at) return FALSE;
                     const ScrollUnit unit = gtk_event_controller_scroll_get_unit(controller) == GDK_SCROLL_UNIT_WHEEL
                                                 ? ScrollUnit::WheelNotch
                                                 : ScrollUnit::Pixel;
                     impl->pageScroll(*at, dy, unit);
                     return FALSE;
                   }),
                   impl);
  g_signal_connect(pull, "scroll-end", G_CALLBACK(+[](GtkEventControllerScroll*, gpointer data) {
                     static_cast<Impl*>(data)->overscroll.ended();
                   }),
                   impl);
  gtk_widget_add_controller(impl->widget, pull);

  GtkEventController* motion = gtk_event_controller_motion_new();
  gtk_event_controller_set_propagation_phase(motion, GTK_PHASE_CAPTURE);
  auto track = +[](GtkEventControllerMotion*, double x, double y, gpointer data) {
    static_cast<Impl*>(data)->pointer = pointOf(x, y);
  };
  g_signal_connect(motion, "enter", G_CALLBACK(track), impl);
  g_signal_connect(motion, "motion", G_CALLBACK(track), impl);
  g_signal_connect(motion, "leave", G_CALLBACK(+[](GtkEventControllerMotion*, gpointer data) {
                     static_cast<Impl*>(data)->pointer.reset();
                   }),
                   impl);
  gtk_widget_add_controller(impl->widget, motion);

  impl->tick = gtk_widget_add_tick_callback(impl->widget, onTick, impl, nullptr);
}

Canvas::~Canvas() {
  gtk_widget_remove_tick_callback(impl_->widget, impl_->tick);
  VV_CANVAS(impl_->widget)->impl = nullptr;
  for (const auto& field : impl_->searchFields) {
    if (gtk_widget_get_parent(field.entry)) gtk_widget_unparent(field.entry);
  }
  if (gtk_widget_get_parent(impl_->overlay.widget())) gtk_widget_unparent(impl_->overlay.widget());
  impl_->endTransitions([](const auto&) { return true; });
  g_object_unref(impl_->widget);
}

GtkWidget* Canvas::widget() const { return impl_->widget; }

void Canvas::setRoot(std::weak_ptr<ui::View> root) {
  impl_->root = std::move(root);
  modelChanged();
}

std::shared_ptr<ui::View> Canvas::root() const { return impl_->root.lock(); }

void Canvas::modelChanged() {
  if (impl_->inLayout) return;
  gtk_widget_queue_allocate(impl_->widget);
}

const std::vector<DisplayItem>& Canvas::items() const { return impl_->items; }

bool Canvas::tapAt(ui::Point point) { return impl_->tap(point); }

std::vector<std::string> Canvas::drawnImages() const { return impl_->drawnImages; }

bool Canvas::beginTransition(ui::View& view, const ui::LayerAnimation& animation) {
  return impl_->beginTransition(view, animation);
}

bool Canvas::animationsEnabled() const { return impl_->animationsEnabled(); }

bool Canvas::isTransitioning() const { return !impl_->transitions.empty(); }

bool Canvas::alertButtonHasFocus() const { return impl_->overlay.alertButtonHasFocus(); }

void Canvas::focusSearchField() {
  impl_->searchFocusWanted = true;
  modelChanged();
}

void Canvas::setPullHandler(std::function<void(ui::WebView&)> handler) { impl_->onPull = std::move(handler); }

void Canvas::dragFrom(ui::Point from, double dx, double velocity) {
  impl_->dragBegin(from);
  const int steps = std::max(1, int(std::abs(dx) / 10));
  for (int step = 1; step <= steps; ++step) impl_->dragUpdate({from.x + dx * step / steps, from.y});
  // The velocity of the release is the caller's, not the tracker's.
  if (auto* pan = impl_->live(impl_->drag.pan, impl_->drag.panView); pan && impl_->drag.panStarted) {
    pan->touchUp({from.x + dx, from.y}, {velocity, 0});
    impl_->drag.panStarted = false;
  }
  impl_->dragEnd({from.x + dx, from.y});
}

}  // namespace gtk
