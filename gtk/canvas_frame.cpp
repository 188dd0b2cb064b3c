// Each frame of a canvas: the display list, its drawing, and the layer
// transitions drawn over it.

#include <algorithm>

#include "canvas_drawing.hpp"
#include "canvas_impl.hpp"
#include "platform/ui/alert_view.hpp"
#include "platform/ui/label.hpp"
#include "platform/ui/table_view.hpp"
#include "web_view.hpp"

namespace gtk {

ui::Rect Canvas::Impl::frameOf(const ui::View& view) const {
  const ui::Rect frame = animator.presentationFrame(view, canvasClock());
  const RunningTransition* running = transitionOf(&view);
  if (!running) return frame;
  const ui::Point offset = running->transition.offsetsAt(canvasClock(), running->place.size).content;
  return frame.offsetBy(offset.x, offset.y);
}

const Canvas::Impl::RunningTransition* Canvas::Impl::transitionOf(const ui::View* view) const {
  for (const RunningTransition& running : transitions) {
    if (running.transition.view().lock().get() == view) return &running;
  }
  return nullptr;
}

bool Canvas::Impl::animationsEnabled() const {
  gboolean enabled = TRUE;
  g_object_get(gtk_widget_get_settings(widget), "gtk-enable-animations", &enabled, nullptr);
  return enabled;
}

bool Canvas::Impl::beginTransition(ui::View& view, const ui::LayerAnimation& animation) {
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

void Canvas::Impl::drawPicture(GtkSnapshot* snapshot, const RunningTransition& running, ui::Point offset) {
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
bool Canvas::Impl::within(const DisplayItem& item, const ui::View* view) {
  auto shown = item.view.lock();
  if (!shown) return false;
  for (ui::View* v : viewChain(shown.get())) {
    if (v == view) return true;
  }
  return false;
}

// The old pictures of running transitions, under or over their views' items.
void Canvas::Impl::drawPictures(GtkSnapshot* snapshot, std::size_t index) {
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

void Canvas::Impl::relayout(int width, int height) {
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

void Canvas::Impl::draw(GtkSnapshot* snapshot) {
  const int width = gtk_widget_get_width(widget);
  const int height = gtk_widget_get_height(widget);
  fill(snapshot, kCanvasBackground, ui::Rect(0, 0, width, height));
  for (std::size_t index = 0; index < items.size(); ++index) {
    const DisplayItem& item = items[index];
    if (!transitions.empty()) drawPictures(snapshot, index);
    graphene_rect_t clip = grect(item.clip);
    gtk_snapshot_push_clip(snapshot, &clip);
    drawingClip = item.clip;
    const bool faded = item.opacity < 0.999;
    if (faded) gtk_snapshot_push_opacity(snapshot, item.opacity);
    drawItem(snapshot, item, {double(width), double(height)});
    if (faded) gtk_snapshot_pop(snapshot);
    gtk_snapshot_pop(snapshot);
  }
  if (!transitions.empty()) drawPictures(snapshot, items.size());
  if (auto ring = overlay.focusRing()) drawFocusRing(snapshot, *ring);
}

void Canvas::Impl::drawShadow(GtkSnapshot* snapshot, ui::View& view, const ui::Rect& rect) {
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

void Canvas::Impl::drawItem(GtkSnapshot* snapshot, const DisplayItem& item, ui::Size canvas) {
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

bool Canvas::Impl::needsFrames() const {
  if (animator.isAnimating() || !transitions.empty()) return true;
  for (const DisplayItem& item : items) {
    if (item.kind == ItemKind::Spinner) return true;
  }
  return false;
}

}  // namespace gtk
