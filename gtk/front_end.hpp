#pragma once
// The toolkit of the window mode: one GTK window showing the application's
// model window on a canvas, WebKit web views, animations drawn frame by
// frame, alerts drawn over the window, the share sheet as a copy to the
// clipboard plus the desktop portal's e-mail composer where there is one,
// and the badge count in the window title. Install it with
// platform::ui::setToolkit before the application builds any view.
// Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "keyboard_shortcuts.hpp"
#include "platform/ui/toolkit.hpp"

typedef struct _GtkWidget GtkWidget;

namespace gtk {

namespace ui = platform::ui;

class Canvas;

class FrontEnd final : public ui::Toolkit {
 public:
  // A window of `size` points (not yet shown) titled after the app.
  explicit FrontEnd(ui::Size size);
  ~FrontEnd() override;
  FrontEnd(const FrontEnd&) = delete;
  FrontEnd& operator=(const FrontEnd&) = delete;

  std::shared_ptr<ui::WebView> makeWebView(ui::Rect frame) override;
  void animate(const ui::AnimationRequest& request, std::function<void()> animations,
               std::function<void(bool finished)> completion) override;
  void viewDidChange(ui::View& view) override;
  void layerDidAddAnimation(ui::Layer& layer, const ui::LayerAnimation& animation) override;
  void navigationWillMove(ui::View& stackView, bool forward) override;
  void scrollViewDidSetContentOffset(ui::ScrollView& scrollView) override;
  void navigationItemDidChange(ui::NavigationItem& item) override;
  void windowDidBecomeVisible(ui::Window& window) override;
  void alertDidShow(ui::AlertView& alert) override;
  void alertDidDismiss(ui::AlertView& alert) override;
  void didPresent(ui::ViewController& presenter, ui::ViewController& presented, bool animated) override;

  // Shows the window (also with no model window yet, e.g. for an alert).
  void present();
  // Called once when the person closes the window.
  void setCloseHandler(std::function<void()> handler);
  // Carries out the shortcuts the window does not handle itself (refresh,
  // quit and the shortcuts window it does); answers whether it took one.
  void setShortcutHandler(std::function<bool(Shortcut)> handler);
  // Called with one line for each thing a person would notice (alerts,
  // shares, refreshes, the launch's first frame showing its page: "first
  // page drawn URL"); for the test channel. Null for none.
  void setReporter(std::function<void(const std::string&)> reporter);

  GtkWidget* window() const;
  // The window's size in points while it is shown; nullopt when it is not.
  std::optional<ui::Size> windowSize() const;
  Canvas& canvas();
  // True while a frame animation is still drawn.
  bool isAnimating() const;

  // Writes what the window shows to a PNG file right after its next frame
  // is drawn (between frames a pending relayout leaves the window with
  // nothing to show). `done` runs on the main thread with false on failure,
  // also when no frame comes within 10 seconds; it is dropped when this
  // front end goes first.
  void saveScreenshot(const std::string& path, std::function<void(bool saved)> done);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace gtk
