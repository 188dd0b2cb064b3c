#pragma once
// The state behind a canvas and what it does each frame and on input;
// shared by the files that make up the canvas. Main thread only.

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "accessible_overlay.hpp"
#include "canvas.hpp"
#include "canvas_drawing.hpp"
#include "display_list.hpp"
#include "frame_animator.hpp"
#include "overscroll_pull.hpp"
#include "platform/ui/gesture_recognizer.hpp"
#include "platform/ui/search_bar.hpp"
#include "pointer_gestures.hpp"
#include "view_transition.hpp"

namespace gtk {

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
  std::vector<DrawnPart> drawnParts;     // by the last frame

  AccessibleOverlay overlay{[this](ui::Point point) { tap(point); },
                            [this] { gtk_widget_queue_draw(widget); }};

  // The drag in progress.
  struct Drag {
    bool active = false;
    ui::Point start;
    ui::PanGestureRecognizer* pan = nullptr;  // checked against its view before each use
    std::weak_ptr<ui::View> panView;
    ui::SwipeGestureRecognizer* swipe = nullptr;
    std::weak_ptr<ui::View> swipeView;
    bool panStarted = false;
    VelocityTracker velocity;
  } drag;
  // A touchpad swipe being followed as a drag (through `drag`).
  TouchpadSwipe touchpad;
  bool touchpadDragging = false;

  Impl(Canvas& owner, FrameAnimator& animator) : owner(owner), animator(animator) {}

  // --- a frame: layout, drawing, transitions ---

  ui::Rect frameOf(const ui::View& view) const;
  const RunningTransition* transitionOf(const ui::View* view) const;
  bool animationsEnabled() const;
  bool beginTransition(ui::View& view, const ui::LayerAnimation& animation);
  template <class Predicate>
  void endTransitions(Predicate ended) {
    std::erase_if(transitions, [&](RunningTransition& running) {
      if (!ended(running)) return false;
      g_object_unref(running.picture);
      return true;
    });
  }
  void drawPicture(GtkSnapshot* snapshot, const RunningTransition& running, ui::Point offset);
  // Whether the item belongs to `view`'s part of the tree.
  static bool within(const DisplayItem& item, const ui::View* view);
  // The old pictures of running transitions, under or over their views' items.
  void drawPictures(GtkSnapshot* snapshot, std::size_t index);
  void relayout(int width, int height);
  void draw(GtkSnapshot* snapshot);
  void drawShadow(GtkSnapshot* snapshot, ui::View& view, const ui::Rect& rect);
  void drawItem(GtkSnapshot* snapshot, const DisplayItem& item, ui::Size canvas);
  bool needsFrames() const;

  // --- native widgets placed over the canvas ---

  GtkWidget* searchEntryFor(const std::shared_ptr<ui::View>& bar);
  std::shared_ptr<ui::SearchBar> searchBarOf(GtkWidget* entry);
  void takeText(ui::SearchBar& bar, GtkWidget* entry);
  static void allocateChild(GtkWidget* child, const ui::Rect& rect);
  void placeNatives(int width, int height);

  // --- input ---

  bool tap(ui::Point point);
  // Answers whether the drag is taken: a drag the panels do not take is
  // left to the widget under it.
  bool dragBegin(ui::Point start, PointerKind kind);
  DragStart dragStartOf(const DisplayItem* item) const;
  // The recognizer, if its view still holds it.
  template <class R>
  R* live(R* recognizer, const std::weak_ptr<ui::View>& view) {
    auto holder = view.lock();
    if (!recognizer || !holder || !holder->hasGestureRecognizer(recognizer)) return nullptr;
    return recognizer;
  }
  // Answers whether the drag now belongs to the container (claim it).
  bool dragUpdate(ui::Point now);
  // `seconds`: when the drag ended on the canvas clock.
  void dragEnd(ui::Point end, double seconds);
  // A touchpad scroll step at `at`, in points; answers whether it moved the
  // panels (and so is not the page's).
  bool touchpadScrolled(ui::Point at, double dx, double dy);
  // The touchpad gesture is over: the fingers lifted, or it went quiet.
  void touchpadEnded();
  // Where a scroll event happened on the canvas: its own position (surface
  // coordinates; the canvas fills the window) or else the pointer's.
  std::optional<ui::Point> scrollPosition(GtkEventController* controller) const;
  // Scrolling over a page: WebKit scrolls it; past its top it is a pull.
  void pageScroll(ui::Point at, double dy, ScrollUnit unit);
  void scroll(ui::Point at, double dy);
};

}  // namespace gtk
