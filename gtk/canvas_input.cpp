// Clicks, drags and scrolls on a canvas, turned into the model's taps,
// gestures and scrolling.

#include <algorithm>
#include <cmath>

#include "canvas_impl.hpp"
#include "platform/ui/control.hpp"
#include "platform/ui/table_view.hpp"
#include "web_view.hpp"

namespace gtk {

namespace {

// A pointer that moves less than this is a tap, not a drag.
constexpr double kDragSlop = 8;

}  // namespace

bool Canvas::Impl::tap(ui::Point point) {
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

bool Canvas::Impl::dragBegin(ui::Point start, PointerKind kind) {
  drag = Drag{};
  const DisplayItem* item = hitTest(items, start);
  if (!dragMovesPanels(kind, dragStartOf(item))) return false;
  drag.active = true;
  drag.start = start;
  drag.velocity.add(canvasClock(), start);
  if (!item) return true;
  auto view = item->view.lock();
  if (!view) return true;
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
  return true;
}

DragStart Canvas::Impl::dragStartOf(const DisplayItem* item) const {
  if (!item) return DragStart::Elsewhere;
  if (item->kind == ItemKind::WebView) return DragStart::Page;
  if (item->kind == ItemKind::SearchField) return DragStart::TextField;
  auto view = item->view.lock();
  for (ui::View* v : viewChain(view.get())) {
    if (dynamic_cast<ui::NavigationBar*>(v)) return DragStart::Bar;
  }
  return DragStart::Elsewhere;
}

// Answers whether the drag now belongs to the container (claim it).
bool Canvas::Impl::dragUpdate(ui::Point now) {
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

void Canvas::Impl::dragEnd(ui::Point end, double seconds) {
  if (!drag.active) return;
  drag.velocity.add(seconds, end);
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

bool Canvas::Impl::touchpadScrolled(ui::Point at, double dx, double dy) {
  if (drag.active && !touchpadDragging) return false;  // a button or finger drag is under way
  const auto before = touchpad.verdict();
  const double now = canvasClock();
  if (touchpad.scrolled(now, dx, dy) != TouchpadSwipe::Verdict::Panels) return false;
  // Followed as a finger on the screen would be, from the pointer.
  if (before != TouchpadSwipe::Verdict::Panels) touchpadDragging = dragBegin(at, PointerKind::Touch);
  if (!touchpadDragging) return false;
  const ui::Point travel = touchpad.travel();
  dragUpdate({drag.start.x + travel.x, drag.start.y + travel.y});
  return true;
}

void Canvas::Impl::touchpadEnded() {
  if (touchpadDragging) {
    const ui::Point travel = touchpad.travel();
    dragEnd({drag.start.x + travel.x, drag.start.y + travel.y}, touchpad.lastStep());
  }
  touchpadDragging = false;
  touchpad.ended();
}

// Where a scroll event happened on the canvas: its own position (surface
// coordinates; the canvas fills the window) or else the pointer's.
std::optional<ui::Point> Canvas::Impl::scrollPosition(GtkEventController* controller) const {
  GdkEvent* event = gtk_event_controller_get_current_event(controller);
  double x = 0;
  double y = 0;
  if (event && gdk_event_get_position(event, &x, &y) && std::isfinite(x) && std::isfinite(y)) return ui::Point{x, y};
  return pointer;
}

// Scrolling over a page: WebKit scrolls it; past its top it is a pull.
void Canvas::Impl::pageScroll(ui::Point at, double dy, ScrollUnit unit) {
  const DisplayItem* item = hitTest(items, at);
  if (!item || item->kind != ItemKind::WebView) return;
  auto view = item->view.lock();
  auto* web = dynamic_cast<gtk::WebView*>(view.get());
  if (!web || touchpadDragging) return;
  if (overscroll.scrolled(canvasClock(), dy, unit, web->isScrolledToTop()) && onPull) onPull(*web);
}

void Canvas::Impl::scroll(ui::Point at, double dy) {
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

}  // namespace gtk
