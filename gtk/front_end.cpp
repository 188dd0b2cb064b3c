#include "front_end.hpp"

#include <gtk/gtk.h>

#include <algorithm>
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
// The narrowest window whose bars still hold their items side by side (a
// button's text may reach out of its frame towards the middle of the bar).
constexpr int kMinimumWidth = 280;

void collectFrames(ui::View& view, const FrameAnimator& animator, double now,
                   std::vector<std::pair<std::weak_ptr<ui::View>, ui::Rect>>& out) {
  out.emplace_back(view.weak_from_this(), animator.presentationFrame(view, now));
  for (const auto& child : view.subviews()) collectFrames(*child, animator, now, out);
}

std::string escapedForXml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// The shortcuts window as GtkBuilder text: GTK 4.8 builds these windows
// only from a description.
std::string shortcutsWindowXml() {
  std::string xml = "<interface><object class=\"GtkShortcutsWindow\" id=\"shortcuts\"><property name=\"modal\">1</property>"
                    "<child><object class=\"GtkShortcutsSection\"><property name=\"section-name\">reader</property>";
  std::string section;
  for (const ShortcutListing& listing : shortcutListings()) {
    if (listing.section != section) {
      if (!section.empty()) xml += "</object></child>";
      section = listing.section;
      xml += "<child><object class=\"GtkShortcutsGroup\"><property name=\"title\">" + escapedForXml(section) + "</property>";
    }
    xml += "<child><object class=\"GtkShortcutsShortcut\"><property name=\"accelerator\">" +
           escapedForXml(listing.accelerators) + "</property><property name=\"title\">" + escapedForXml(listing.title) +
           "</property></object></child>";
  }
  if (!section.empty()) xml += "</object></child>";
  return xml + "</object></child></object></interface>";
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

  // The launch's first frame showing a loaded page, reported once as "first
  // page drawn URL": after the page says it was painted, the window's next
  // frame that holds its web view.
  std::weak_ptr<ui::View> paintedView;
  std::string paintedURL;
  bool firstPageDrawn = false;
  gulong pageFrame = 0;
  // Held by the web views' painted handlers, which may outlive this.
  std::shared_ptr<Impl*> self = std::make_shared<Impl*>(this);

  void pagePainted(WebView& view, const std::string& url) {
    if (firstPageDrawn) return;
    paintedView = view.weak_from_this();
    paintedURL = url;
    watchForPageFrame();
  }

  void watchForPageFrame() {
    if (pageFrame || paintedView.expired() || !gtk_widget_get_realized(window)) return;
    pageFrame = g_signal_connect_swapped(gtk_widget_get_frame_clock(window), "after-paint", G_CALLBACK(+[](gpointer data) {
                                           static_cast<Impl*>(data)->frameDrawn();
                                         }),
                                         this);
    gtk_widget_queue_draw(canvas->widget());
  }

  void stopWatchingFrames() {
    if (pageFrame) g_signal_handler_disconnect(gtk_widget_get_frame_clock(window), pageFrame);
    pageFrame = 0;
  }

  void frameDrawn() {
    auto view = paintedView.lock();
    if (!view) return stopWatchingFrames();
    const auto& items = canvas->items();
    const bool shown = std::any_of(items.begin(), items.end(), [&](const DisplayItem& item) {
      return item.kind == ItemKind::WebView && item.view.lock() == view;
    });
    if (!shown) return;
    stopWatchingFrames();
    firstPageDrawn = true;
    report("first page drawn " + paintedURL);
  }

  // The window's state as the application's: hidden or minimised is the
  // background, focused is active, shown without focus inactive. Only
  // changes count: the application starts active, as on a phone, whether or
  // not a window manager ever gives the window focus.
  bool minimised = false;
  bool mapped = false;
  bool everMapped = false;
  gulong surfaceStateHandler = 0;
  gulong surfaceMappedHandler = 0;

  void followWindowState() {
    const bool active = gtk_window_is_active(GTK_WINDOW(window));
    const ui::ApplicationState state = (minimised || !mapped) ? ui::ApplicationState::Background
                                       : active                ? ui::ApplicationState::Active
                                                               : ui::ApplicationState::Inactive;
    ui::Application& application = ui::Application::shared();
    if (application.state() == state) return;
    application.setState(state);
    report(std::string("application state ") + stateName(state));
  }

  static const char* stateName(ui::ApplicationState state) {
    switch (state) {
      case ui::ApplicationState::Active: return "active";
      case ui::ApplicationState::Inactive: return "inactive";
      case ui::ApplicationState::Background: return "background";
    }
    return "inactive";
  }

  void surfaceChanged(GdkSurface* surface) {
    const bool nowMinimised = (gdk_toplevel_get_state(GDK_TOPLEVEL(surface)) & GDK_TOPLEVEL_STATE_MINIMIZED) != 0;
    const bool nowMapped = gdk_surface_get_mapped(surface);
    // The first showing is the launch, not a return from the background.
    const bool firstShowing = !mapped && nowMapped && !everMapped;
    everMapped = everMapped || nowMapped;
    if (nowMinimised == minimised && nowMapped == mapped) return;
    minimised = nowMinimised;
    mapped = nowMapped;
    if (!firstShowing) followWindowState();
  }

  void watchSurface() {
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    if (!surface || !GDK_IS_TOPLEVEL(surface) || surfaceStateHandler) return;
    auto changed = G_CALLBACK(+[](GdkSurface* s, GParamSpec*, gpointer data) { static_cast<Impl*>(data)->surfaceChanged(s); });
    surfaceStateHandler = g_signal_connect(surface, "notify::state", changed, this);
    surfaceMappedHandler = g_signal_connect(surface, "notify::mapped", changed, this);
    surfaceChanged(surface);
  }

  void unwatchSurface() {
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    if (surface && surfaceStateHandler) g_signal_handler_disconnect(surface, surfaceStateHandler);
    if (surface && surfaceMappedHandler) g_signal_handler_disconnect(surface, surfaceMappedHandler);
    surfaceStateHandler = surfaceMappedHandler = 0;
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

  // The window's own shortcuts; the rest go to the shortcut handler.
  std::function<bool(Shortcut)> onShortcut;
  GtkWidget* shortcutsWindow = nullptr;

  bool perform(Shortcut shortcut) {
    switch (shortcut) {
      case Shortcut::None: return false;
      case Shortcut::Refresh: return refreshShownPage();
      case Shortcut::ShowShortcuts: showShortcuts(); return true;
      case Shortcut::Quit:
        if (auto handler = std::exchange(onClose, nullptr)) handler();
        return true;
      default: return onShortcut && onShortcut(shortcut);
    }
  }

  void showShortcuts() {
    if (!shortcutsWindow) {
      GtkBuilder* builder = gtk_builder_new_from_string(shortcutsWindowXml().c_str(), -1);
      shortcutsWindow = GTK_WIDGET(gtk_builder_get_object(builder, "shortcuts"));
      g_object_ref_sink(shortcutsWindow);
      g_object_unref(builder);
      gtk_window_set_transient_for(GTK_WINDOW(shortcutsWindow), GTK_WINDOW(window));
      gtk_window_set_hide_on_close(GTK_WINDOW(shortcutsWindow), TRUE);
    }
    report("shortcuts window shown");
    gtk_window_present(GTK_WINDOW(shortcutsWindow));
  }

  // The refresh control of the page shown, as if pulled.
  bool refreshShownPage() {
    const auto& items = canvas->items();
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      if (it->kind != ItemKind::WebView) continue;
      auto view = std::dynamic_pointer_cast<ui::WebView>(it->view.lock());
      if (!view) continue;
      refresh(*view, "key");
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
  gtk_widget_set_size_request(impl->canvas->widget(), kMinimumWidth, -1);
  g_signal_connect(impl->window, "close-request", G_CALLBACK(+[](GtkWindow*, gpointer data) -> gboolean {
                     auto* self = static_cast<Impl*>(data);
                     if (auto handler = std::exchange(self->onClose, nullptr)) handler();
                     return TRUE;
                   }),
                   impl);

  g_signal_connect_swapped(impl->window, "realize", G_CALLBACK(+[](gpointer data) {
                             auto* self = static_cast<Impl*>(data);
                             self->watchSurface();
                             self->watchForPageFrame();
                           }),
                           impl);
  g_signal_connect_swapped(impl->window, "unrealize", G_CALLBACK(+[](gpointer data) {
                             auto* self = static_cast<Impl*>(data);
                             self->unwatchSurface();
                             self->stopWatchingFrames();
                           }),
                           impl);
  g_signal_connect_swapped(impl->window, "notify::is-active", G_CALLBACK(+[](gpointer data) {
                             auto* self = static_cast<Impl*>(data);
                             if (self->everMapped) self->followWindowState();
                           }),
                           impl);

  GtkEventController* keys = gtk_event_controller_key_new();
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "key-pressed", G_CALLBACK(+[](GtkEventControllerKey*, guint key, guint, GdkModifierType state,
                                                       gpointer data) -> gboolean {
                     auto* self = static_cast<Impl*>(data);
                     const bool alertShown = !ui::AlertView::visibleAlerts().empty();
                     const Shortcut shortcut = shortcutFor(key, state, alertShown);
                     // Enter presses the alert button the keyboard is on, not the default one.
                     if (shortcut == Shortcut::Accept && self->canvas->alertButtonHasFocus()) return FALSE;
                     return self->perform(shortcut);
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
  if (impl_->shortcutsWindow) {
    gtk_window_destroy(GTK_WINDOW(impl_->shortcutsWindow));
    g_object_unref(impl_->shortcutsWindow);
  }
  // Closing the window is no trip to the background.
  impl_->unwatchSurface();
  g_signal_handlers_disconnect_by_data(impl_->window, impl_.get());
  g_source_remove(impl_->titleTimer);
  if (impl_->afterPaint) g_signal_handler_disconnect(gtk_widget_get_frame_clock(impl_->window), impl_->afterPaint);
  impl_->stopWatchingFrames();
  if (impl_->shotTimeout) g_source_remove(impl_->shotTimeout);
  gtk_window_set_child(GTK_WINDOW(impl_->window), nullptr);
  gtk_window_destroy(GTK_WINDOW(impl_->window));
  g_object_unref(impl_->window);
  impl_->canvas.reset();
}

std::shared_ptr<ui::WebView> FrontEnd::makeWebView(ui::Rect frame) {
  auto view = std::make_shared<WebView>(frame, sharedNetworkSession());
  std::weak_ptr<Impl*> owner = impl_->self;
  WebView* shown = view.get();
  view->setPaintedHandler([owner, shown](const std::string& url) {
    if (auto impl = owner.lock()) (*impl)->pagePainted(*shown, url);
  });
  return view;
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
  // With less motion asked for, views go straight to their places; the
  // completion still comes when the animation would have ended.
  if (impl_->canvas->animationsEnabled()) impl_->animator.add(std::move(moves), now, request.delay, request.duration);
  impl_->canvas->modelChanged();
  const double seconds = std::max(0.0, request.delay) + std::max(0.0, request.duration);
  auto finish = [completion = std::move(completion)] {
    if (completion) completion(true);
  };
  platform::mainQueue().postDelayed(std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double>(seconds)),
                                    std::move(finish));
}

void FrontEnd::viewDidChange(ui::View&) { impl_->canvas->modelChanged(); }

void FrontEnd::layerDidAddAnimation(ui::Layer& layer, const ui::LayerAnimation& animation) {
  if (animation.kind != ui::LayerAnimation::Kind::Transition) return;
  const std::string name = animation.type + " " + animation.subtype;
  if (impl_->canvas->beginTransition(layer.owner(), animation)) {
    impl_->report("transition " + name);
  } else if (!impl_->canvas->animationsEnabled()) {
    impl_->report("transition " + name + " skipped (less motion)");
  }
}

void FrontEnd::scrollViewDidSetContentOffset(ui::ScrollView& scrollView) {
  // The page's scroll position lives in WebKit: a move the program asks for is passed on.
  if (auto* web = dynamic_cast<WebView*>(scrollView.superview())) web->scrollTo(scrollView.contentOffset());
}

// Animated pushes and pops: the new screen pushes the old one out, from
// the right going forward and from the left going back.
void FrontEnd::navigationWillMove(ui::View& stackView, bool forward) {
  constexpr double kNavigationMoveDuration = 0.35;
  const auto move = ui::LayerAnimation::transition(ui::kTransitionPush,
                                                   forward ? ui::kTransitionFromRight : ui::kTransitionFromLeft,
                                                   kNavigationMoveDuration, ui::MediaTimingFunction::EaseInEaseOut);
  if (impl_->canvas->beginTransition(stackView, move)) impl_->report("transition " + move.type + " " + move.subtype);
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

void FrontEnd::setShortcutHandler(std::function<bool(Shortcut)> handler) { impl_->onShortcut = std::move(handler); }

void FrontEnd::setReporter(std::function<void(const std::string&)> reporter) { impl_->reporter = std::move(reporter); }

GtkWidget* FrontEnd::window() const { return impl_->window; }

std::optional<ui::Size> FrontEnd::windowSize() const {
  if (!gtk_widget_get_realized(impl_->window)) return std::nullopt;
  const int width = gtk_widget_get_width(impl_->window);
  const int height = gtk_widget_get_height(impl_->window);
  if (width <= 0 || height <= 0) return std::nullopt;
  return ui::Size{double(width), double(height)};
}

Canvas& FrontEnd::canvas() { return *impl_->canvas; }

bool FrontEnd::isAnimating() const { return impl_->animator.isAnimating() || impl_->canvas->isTransitioning(); }

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
