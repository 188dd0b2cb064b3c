#include "front_end.hpp"

#include <gtk/gtk.h>

#include <optional>

#include "canvas.hpp"
#include "frame_animator.hpp"
#include "overscroll_pull.hpp"
#include "platform/executor.hpp"
#include "platform/log.hpp"
#include "platform/ui/alert_view.hpp"
#include "platform/ui/application.hpp"
#include "platform/ui/control.hpp"
#include "platform/ui/window.hpp"
#include "share_portal.hpp"
#include "web_view.hpp"

namespace gtk {

namespace {

constexpr const char* kWindowTitle = "Vestavind";

void collectFrames(ui::View& view, const FrameAnimator& animator, double now,
                   std::vector<std::pair<std::weak_ptr<ui::View>, ui::Rect>>& out) {
  out.emplace_back(view.weak_from_this(), animator.presentationFrame(view, now));
  for (const auto& child : view.subviews()) collectFrames(*child, animator, now, out);
}

std::string titleFor(int badge, bool networkActive) {
  std::string title = kWindowTitle;
  if (badge > 0) title += " (" + std::to_string(badge) + ")";
  if (networkActive) title += " …";
  return title;
}

}  // namespace

struct FrontEnd::Impl {
  FrameAnimator animator;
  std::unique_ptr<Canvas> canvas;
  GtkWidget* window = nullptr;
  std::function<void()> onClose;
  std::function<void(const std::string&)> reporter;
  std::string shownTitle;
  guint titleTimer = 0;
  SharePortal portal;

  // The screenshot waiting for the next drawn frame.
  struct PendingShot {
    std::string path;
    std::function<void(bool)> done;
  };
  std::optional<PendingShot> pendingShot;
  gulong afterPaint = 0;
  guint shotTimeout = 0;

  bool writeScreenshot(const std::string& path);

  // Takes the pending shot, whether or not a frame came.
  void takePendingShot() {
    if (afterPaint) g_signal_handler_disconnect(gtk_widget_get_frame_clock(window), afterPaint);
    afterPaint = 0;
    if (shotTimeout) g_source_remove(shotTimeout);
    shotTimeout = 0;
    if (!pendingShot) return;
    PendingShot shot = std::move(*pendingShot);
    pendingShot.reset();
    const bool saved = writeScreenshot(shot.path);
    if (shot.done) shot.done(saved);
  }

  void report(const std::string& line) {
    if (reporter) reporter(line);
  }

  void refreshTitle() {
    const ui::Application& application = ui::Application::shared();
    const std::string title = titleFor(application.iconBadgeNumber(), application.isNetworkActivityIndicatorVisible());
    if (title == shownTitle) return;
    shownTitle = title;
    gtk_window_set_title(GTK_WINDOW(window), title.c_str());
  }

  void refresh(ui::WebView& view, const char* how) {
    report(std::string("refresh pulled (") + how + ")");
    pullToRefresh(view);
  }

  // F5: the refresh control of the page shown, as if pulled.
  bool refreshShownPage() {
    const auto& items = canvas->items();
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      if (it->kind != ItemKind::WebView) continue;
      auto view = std::dynamic_pointer_cast<ui::WebView>(it->view.lock());
      if (!view) continue;
      refresh(*view, "F5");
      return true;
    }
    return false;
  }
};

FrontEnd::FrontEnd(ui::Size size) : impl_(std::make_unique<Impl>()) {
  Impl* impl = impl_.get();
  impl->canvas = std::make_unique<Canvas>(impl->animator);
  impl->canvas->setPullHandler([impl](ui::WebView& view) { impl->refresh(view, "overscroll"); });
  impl->window = gtk_window_new();
  g_object_ref_sink(impl->window);
  gtk_window_set_default_size(GTK_WINDOW(impl->window), int(size.width), int(size.height));
  gtk_window_set_title(GTK_WINDOW(impl->window), kWindowTitle);
  gtk_window_set_child(GTK_WINDOW(impl->window), impl->canvas->widget());
  g_signal_connect(impl->window, "close-request", G_CALLBACK(+[](GtkWindow*, gpointer data) -> gboolean {
                     auto* self = static_cast<Impl*>(data);
                     if (auto handler = std::exchange(self->onClose, nullptr)) handler();
                     return TRUE;
                   }),
                   impl);

  GtkEventController* keys = gtk_event_controller_key_new();
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "key-pressed", G_CALLBACK(+[](GtkEventControllerKey*, guint key, guint, GdkModifierType,
                                                       gpointer data) -> gboolean {
                     if (key != GDK_KEY_F5) return FALSE;
                     return static_cast<Impl*>(data)->refreshShownPage();
                   }),
                   impl);
  gtk_widget_add_controller(impl->window, keys);

  // The badge and the network indicator have no change notice; look often.
  impl->titleTimer = g_timeout_add(250, +[](gpointer data) -> gboolean {
    static_cast<Impl*>(data)->refreshTitle();
    return G_SOURCE_CONTINUE;
  }, impl);
}

FrontEnd::~FrontEnd() {
  g_source_remove(impl_->titleTimer);
  if (impl_->afterPaint) g_signal_handler_disconnect(gtk_widget_get_frame_clock(impl_->window), impl_->afterPaint);
  if (impl_->shotTimeout) g_source_remove(impl_->shotTimeout);
  gtk_window_set_child(GTK_WINDOW(impl_->window), nullptr);
  gtk_window_destroy(GTK_WINDOW(impl_->window));
  g_object_unref(impl_->window);
  impl_->canvas.reset();
}

std::shared_ptr<ui::WebView> FrontEnd::makeWebView(ui::Rect frame) {
  return std::make_shared<WebView>(frame, sharedNetworkSession());
}

void FrontEnd::animate(const ui::AnimationRequest& request, std::function<void()> animations,
                       std::function<void(bool finished)> completion) {
  const double now = canvasClock();
  std::vector<std::pair<std::weak_ptr<ui::View>, ui::Rect>> before;
  if (auto root = impl_->canvas->root()) collectFrames(*root, impl_->animator, now, before);
  if (animations) animations();
  std::vector<FrameMove> moves;
  for (const auto& [weak, from] : before) {
    auto view = weak.lock();
    if (view && view->frame() != from) moves.push_back(FrameMove{weak, from, view->frame()});
  }
  impl_->animator.add(std::move(moves), now, request.delay, request.duration);
  impl_->canvas->modelChanged();
  const double seconds = std::max(0.0, request.delay) + std::max(0.0, request.duration);
  auto finish = [completion = std::move(completion)] {
    if (completion) completion(true);
  };
  platform::mainQueue().postDelayed(std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double>(seconds)),
                                    std::move(finish));
}

void FrontEnd::viewDidChange(ui::View& view) {
  // The page's scroll position lives in WebKit: a jump to the top is passed on.
  if (auto* scroll = dynamic_cast<ui::ScrollView*>(&view)) {
    if (auto* web = dynamic_cast<WebView*>(scroll->superview()); web && scroll->contentOffset() == ui::Point{}) {
      web->scrollToTop();
    }
  }
  impl_->canvas->modelChanged();
}

void FrontEnd::navigationItemDidChange(ui::NavigationItem&) { impl_->canvas->modelChanged(); }

void FrontEnd::windowDidBecomeVisible(ui::Window& window) {
  impl_->canvas->setRoot(window.weak_from_this());
  present();
}

void FrontEnd::alertDidShow(ui::AlertView& alert) {
  std::string line = "alert shown: tag " + std::to_string(alert.tag()) + " \"" + alert.title() + "\" \"" +
                     alert.message() + "\"";
  impl_->report(line);
  impl_->canvas->modelChanged();
  present();
}

void FrontEnd::alertDidDismiss(ui::AlertView& alert) {
  impl_->report("alert dismissed: tag " + std::to_string(alert.tag()));
  impl_->canvas->modelChanged();
}

void FrontEnd::didPresent(ui::ViewController& presenter, ui::ViewController& presented, bool) {
  auto* sheet = dynamic_cast<ui::ActivityViewController*>(&presented);
  if (!sheet) return;
  std::string text;
  for (const std::string& item : sheet->activityItems()) {
    if (item.empty()) continue;
    if (!text.empty()) text += "\n";
    text += item;
  }
  gdk_clipboard_set_text(gtk_widget_get_clipboard(impl_->window), text.c_str());
  std::string line = "share sheet:";
  for (const std::string& item : sheet->activityItems()) line += " \"" + item + "\"";
  impl_->report(line + " (copied to the clipboard)");
  const auto& items = sheet->activityItems();
  Impl* impl = impl_.get();
  impl->portal.share(items.size() > 0 ? items[0] : "", items.size() > 1 ? items[1] : "", [impl](bool taken) {
    impl->report(taken ? "share: the desktop's portal took the page" : "share: no desktop portal; the clipboard alone");
  });
  // The copy is the whole sheet: it closes at once, ready for the next share.
  std::weak_ptr<ui::ViewController> weak = presenter.weak_from_this();
  platform::mainQueue().post([weak] {
    if (auto owner = weak.lock()) owner->dismissViewController(false);
  });
}

void FrontEnd::present() {
  // Presenting again would raise the window on every alert.
  if (!gtk_widget_get_visible(impl_->window)) gtk_window_present(GTK_WINDOW(impl_->window));
}

void FrontEnd::setCloseHandler(std::function<void()> handler) { impl_->onClose = std::move(handler); }

void FrontEnd::setReporter(std::function<void(const std::string&)> reporter) { impl_->reporter = std::move(reporter); }

GtkWidget* FrontEnd::window() const { return impl_->window; }

Canvas& FrontEnd::canvas() { return *impl_->canvas; }

bool FrontEnd::isAnimating() const { return impl_->animator.isAnimating(); }

void FrontEnd::saveScreenshot(const std::string& path, std::function<void(bool)> done) {
  Impl* impl = impl_.get();
  // One at a time: an earlier shot still waiting is taken now.
  impl->takePendingShot();
  GdkFrameClock* clock = gtk_widget_get_realized(impl->window) ? gtk_widget_get_frame_clock(impl->window) : nullptr;
  if (!clock) {
    platform::log("Screenshot: the window is not shown");
    if (done) done(false);
    return;
  }
  impl->pendingShot = Impl::PendingShot{path, std::move(done)};
  impl->afterPaint = g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](gpointer data) {
                                                static_cast<Impl*>(data)->takePendingShot();
                                              }),
                                              impl);
  impl->shotTimeout = g_timeout_add_seconds(10, +[](gpointer data) -> gboolean {
    auto* self = static_cast<Impl*>(data);
    self->shotTimeout = 0;
    self->takePendingShot();
    return G_SOURCE_REMOVE;
  }, impl);
  gtk_widget_queue_draw(impl->canvas->widget());
}

bool FrontEnd::Impl::writeScreenshot(const std::string& path) {
  const int width = gtk_widget_get_width(window);
  const int height = gtk_widget_get_height(window);
  if (width <= 0 || height <= 0 || !gtk_widget_get_realized(window)) {
    platform::log("Screenshot: the window is not shown");
    return false;
  }
  GdkPaintable* paintable = gtk_widget_paintable_new(window);
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, snapshot, width, height);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  g_object_unref(paintable);
  if (!node) {
    platform::log("Screenshot: the window drew nothing");
    return false;
  }
  GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(window));
  graphene_rect_t viewport = GRAPHENE_RECT_INIT(0, 0, float(width), float(height));
  GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &viewport);
  gsk_render_node_unref(node);
  if (!texture) {
    platform::log("Screenshot: the window could not be rendered");
    return false;
  }
  const bool saved = gdk_texture_save_to_png(texture, path.c_str());
  if (!saved) platform::log("Screenshot: cannot write " + path);
  g_object_unref(texture);
  return saved;
}

}  // namespace gtk
