#pragma once
// The accessible tree as GTK widgets: one stand-in per node (buttons, text,
// lists and rows, an alert dialog with its buttons), placed where its
// control is drawn, so assistive technology reads them with their roles and
// names and the keyboard moves through them. They draw nothing (the canvas
// draws the controls, and the focus ring where they say); the pointer goes
// past them to the canvas. Activating a stand-in taps its control.
// Main thread only.

#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "accessible_tree.hpp"

typedef struct _GtkWidget GtkWidget;

namespace gtk {

class AccessibleOverlay {
 public:
  // `tap` carries out an activation at a canvas point; `focusMoved` runs
  // when the keyboard focus reaches or leaves a stand-in.
  AccessibleOverlay(std::function<void(ui::Point)> tap, std::function<void()> focusMoved);
  ~AccessibleOverlay();
  AccessibleOverlay(const AccessibleOverlay&) = delete;
  AccessibleOverlay& operator=(const AccessibleOverlay&) = delete;

  // The container of the stand-ins; place it over the whole canvas.
  GtkWidget* widget() const;

  // Makes the stand-ins match `tree`: kept ones stay (with the focus), gone
  // ones leave.
  void update(const std::vector<AccessibleNode>& tree);

  // Where the control whose stand-in has the keyboard focus is drawn, while
  // the window shows focus (the person moves it with keys); nullopt otherwise.
  std::optional<ui::Rect> focusRing() const;
  // True while the keyboard is on a button of the alert shown.
  bool alertButtonHasFocus() const;

  struct Entry;

 private:
  using Key = std::tuple<const void*, int, AccessibleRole>;
  void place(const AccessibleNode& node, GtkWidget* parent, ui::Point origin, bool inAlert);
  Entry& entryFor(const AccessibleNode& node, GtkWidget* parent);
  const Entry* focusedEntry() const;

  std::function<void(ui::Point)> tap_;
  std::function<void()> focusMoved_;
  GtkWidget* root_ = nullptr;
  std::map<Key, Entry> entries_;
};

}  // namespace gtk
