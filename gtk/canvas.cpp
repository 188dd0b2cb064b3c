#include "canvas.hpp"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>

#include "canvas_impl.hpp"

namespace gtk {

double canvasClock() { return double(g_get_monotonic_time()) / 1e6; }

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

std::vector<DrawnPart> Canvas::drawnParts() const { return impl_->drawnParts; }

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
  impl_->dragBegin(from, PointerKind::Touch);
  const int steps = std::max(1, int(std::abs(dx) / 10));
  for (int step = 1; step <= steps; ++step) impl_->dragUpdate({from.x + dx * step / steps, from.y});
  // The velocity of the release is the caller's, not the tracker's.
  if (auto* pan = impl_->live(impl_->drag.pan, impl_->drag.panView); pan && impl_->drag.panStarted) {
    pan->touchUp({from.x + dx, from.y}, {velocity, 0});
    impl_->drag.panStarted = false;
  }
  impl_->dragEnd({from.x + dx, from.y}, canvasClock());
}

bool Canvas::touchpadScroll(ui::Point at, double dx, double dy) {
  const int steps = std::max(1, int(std::hypot(dx, dy) / 10));
  bool moved = false;
  for (int step = 0; step < steps; ++step) moved = impl_->touchpadScrolled(at, dx / steps, dy / steps) || moved;
  impl_->touchpadEnded();
  return moved;
}

}  // namespace gtk
