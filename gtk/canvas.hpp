#pragma once
// The widget that shows a model window: it lays the model's view tree out
// as a display list every frame, draws it, places the native widgets (web
// views, search fields) where their model views are, and turns clicks,
// drags and scrolls into the model's taps, gestures and scrolling.
// Main thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "display_list.hpp"
#include "frame_animator.hpp"
#include "platform/ui/layer.hpp"
#include "platform/ui/web_view.hpp"

typedef struct _GtkWidget GtkWidget;

namespace gtk {

class Canvas {
 public:
  // Draws moving views where `animator` says (not owned, must outlive this).
  explicit Canvas(FrameAnimator& animator);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  // The widget (owned by this canvas; put it into a window).
  GtkWidget* widget() const;

  // The model view to show, normally a window; it is resized to the canvas.
  void setRoot(std::weak_ptr<ui::View> root);
  std::shared_ptr<ui::View> root() const;

  // Something in the model changed: lay out and draw again.
  void modelChanged();

  // The image files the last frame drew (at the window's density), sorted.
  std::vector<std::string> drawnImages() const;

  // The texts and images the last frame drew, where they show.
  std::vector<DrawnPart> drawnParts() const;

  // The items of the last layout.
  const std::vector<DisplayItem>& items() const;

  // A tap at a canvas point (the click handler's path; tests and the
  // control channel use it too). Answers whether anything took it.
  bool tapAt(ui::Point point);

  // True while the keyboard is on a button of the alert shown, which then
  // takes Enter itself.
  bool alertButtonHasFocus() const;

  // A horizontal drag from `from` by `dx` points ending at `velocity`
  // points per second, fed through the same path as a pointer drag.
  void dragFrom(ui::Point from, double dx, double velocity);

  // A two-finger touchpad scroll by `dx`, `dy` points with the pointer at
  // `at`, fed in steps through the touchpad's path; answers whether it
  // moved the panels.
  bool touchpadScroll(ui::Point at, double dx, double dy);

  // Draws `view` through a layer transition (the picture shown now stays
  // while its new content moves in); answers whether one is drawn: not for
  // types that do not move, nor when the desktop asks for less motion.
  bool beginTransition(ui::View& view, const ui::LayerAnimation& animation);
  // False when the desktop asks for less motion (GTK's enable-animations setting).
  bool animationsEnabled() const;
  // True while a transition is drawn.
  bool isTransitioning() const;

  // Gives the keyboard to the search field as soon as one is shown.
  void focusSearchField();

  // Called when scrolling on past the top of a page pulls it for a refresh
  // (the canvas does not refresh it itself). Null for none.
  void setPullHandler(std::function<void(ui::WebView&)> handler);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The current time of the canvas clocks, in seconds.
double canvasClock();

}  // namespace gtk
