// The GtkWidget subclass behind a canvas and the event controllers that
// feed it.

#include <gtk/gtk.h>

#include "canvas_drawing.hpp"
#include "canvas_impl.hpp"

namespace gtk {

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
  drawnParts.clear();
  if (auto* impl = VV_CANVAS(widget)->impl) {
    impl->draw(snapshot);
    impl->drawnImages.assign(drawnFiles.begin(), drawnFiles.end());
    impl->drawnParts = drawnParts;
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
  if (impl->touchpadDragging && impl->touchpad.quietAt(now)) impl->touchpadEnded();
  impl->endTransitions([now](const auto& running) { return running.transition.hasEnded(now); });
  if (moving || impl->needsFrames()) gtk_widget_queue_allocate(widget);
  return G_SOURCE_CONTINUE;
}

ui::Point pointOf(double x, double y) { return {x, y}; }

PointerKind pointerKindOf(GtkGesture* gesture) {
  GdkEvent* event = gtk_gesture_get_last_event(gesture, gtk_gesture_get_last_updated_sequence(gesture));
  GdkDevice* device = event ? gdk_event_get_device(event) : nullptr;
  return device && gdk_device_get_source(device) == GDK_SOURCE_TOUCHSCREEN ? PointerKind::Touch : PointerKind::Mouse;
}

// Scrolling with two fingers on a touchpad (not a wheel), in points.
std::optional<ui::Point> touchpadTravel(GtkEventControllerScroll* controller, double dx, double dy) {
  GdkEvent* event = gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(controller));
  GdkDevice* device = event ? gdk_event_get_device(event) : nullptr;
  const bool surface = gtk_event_controller_scroll_get_unit(controller) == GDK_SCROLL_UNIT_SURFACE;
  if (!surface && !(device && gdk_device_get_source(device) == GDK_SOURCE_TOUCHPAD)) return std::nullopt;
  // Smooth steps counted in wheel notches (X11) are scaled to points.
  const double scale = surface ? 1 : OverscrollPull::kNotchDistance;
  return ui::Point{dx * scale, dy * scale};
}

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

  // Capture phase: a touch drag that starts on a web page can still move the
  // front; a mouse drag there is denied at once and left to the page.
  GtkGesture* drag = gtk_gesture_drag_new();
  gtk_event_controller_set_propagation_phase(GTK_EVENT_CONTROLLER(drag), GTK_PHASE_CAPTURE);
  g_signal_connect(drag, "drag-begin", G_CALLBACK(+[](GtkGestureDrag* gesture, double x, double y, gpointer data) {
                     if (!static_cast<Impl*>(data)->dragBegin(pointOf(x, y), pointerKindOf(GTK_GESTURE(gesture)))) {
                       gtk_gesture_set_state(GTK_GESTURE(gesture), GTK_EVENT_SEQUENCE_DENIED);
                     }
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
                     static_cast<Impl*>(data)->dragEnd(pointOf(x + dx, y + dy), canvasClock());
                   }),
                   impl);
  gtk_widget_add_controller(impl->widget, GTK_EVENT_CONTROLLER(drag));

  // Capture phase: a horizontal swipe over a page moves the panels, and the
  // page does not see it.
  GtkEventController* swipe = gtk_event_controller_scroll_new(GTK_EVENT_CONTROLLER_SCROLL_BOTH_AXES);
  gtk_event_controller_set_propagation_phase(swipe, GTK_PHASE_CAPTURE);
  g_signal_connect(swipe, "scroll", G_CALLBACK(+[](GtkEventControllerScroll* controller, double dx, double dy, gpointer data) -> gboolean {
                     auto* impl = static_cast<Impl*>(data);
                     const auto travel = touchpadTravel(controller, dx, dy);
                     const auto at = impl->scrollPosition(GTK_EVENT_CONTROLLER(controller));
                     return travel && at && impl->touchpadScrolled(*at, travel->x, travel->y);
                   }),
                   impl);
  g_signal_connect(swipe, "scroll-end", G_CALLBACK(+[](GtkEventControllerScroll*, gpointer data) {
                     static_cast<Impl*>(data)->touchpadEnded();
                   }),
                   impl);
  gtk_widget_add_controller(impl->widget, swipe);

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

}  // namespace gtk
