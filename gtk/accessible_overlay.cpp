#include "accessible_overlay.hpp"

#include <gtk/gtk.h>

#include <cmath>

namespace gtk {

struct AccessibleOverlay::Entry {
  GtkWidget* widget = nullptr;
  GtkWidget* parent = nullptr;
  std::string name;
  std::string description;
  ui::Rect rect;
  std::optional<ui::Point> tapPoint;
  bool inAlert = false;
  bool seen = false;
};

namespace {

GtkAccessibleRole gtkRole(AccessibleRole role) {
  switch (role) {
    case AccessibleRole::Button: return GTK_ACCESSIBLE_ROLE_BUTTON;
    case AccessibleRole::Label: return GTK_ACCESSIBLE_ROLE_LABEL;
    case AccessibleRole::List: return GTK_ACCESSIBLE_ROLE_LIST;
    case AccessibleRole::ListItem: return GTK_ACCESSIBLE_ROLE_LIST_ITEM;
    case AccessibleRole::Alert: return GTK_ACCESSIBLE_ROLE_ALERT_DIALOG;
  }
  return GTK_ACCESSIBLE_ROLE_GENERIC;
}

bool isGroup(AccessibleRole role) { return role == AccessibleRole::List || role == AccessibleRole::Alert; }

// Activatable stand-ins are buttons (whatever role they announce), so the
// keyboard and assistive technology can press them; groups hold theirs.
GtkWidget* makeStandIn(AccessibleRole role) {
  const GType type = isGroup(role) ? GTK_TYPE_FIXED : role == AccessibleRole::Label ? GTK_TYPE_LABEL : GTK_TYPE_BUTTON;
  GtkWidget* widget = GTK_WIDGET(g_object_new(type, "accessible-role", gtkRole(role), nullptr));
  if (role == AccessibleRole::Label) gtk_label_set_ellipsize(GTK_LABEL(widget), PANGO_ELLIPSIZE_END);
  return widget;
}

// Enter and the space bar press the button the keyboard is on.
gboolean pressedByKey(GtkEventControllerKey* keys, guint keyval, guint, GdkModifierType state, gpointer) {
  const bool plain = (state & gtk_accelerator_get_default_mod_mask()) == 0;
  const bool press = keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter ||
                     keyval == GDK_KEY_space || keyval == GDK_KEY_KP_Space;
  if (!plain || !press) return FALSE;
  g_signal_emit_by_name(gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(keys)), "clicked");
  return TRUE;
}

int rounded(double value) { return int(std::lround(value)); }

}  // namespace

AccessibleOverlay::AccessibleOverlay(std::function<void(ui::Point)> tap, std::function<void()> focusMoved)
    : tap_(std::move(tap)), focusMoved_(std::move(focusMoved)) {
  root_ = gtk_fixed_new();
  g_object_ref_sink(root_);
  gtk_widget_set_can_target(root_, FALSE);
}

AccessibleOverlay::~AccessibleOverlay() {
  for (auto& [key, entry] : entries_) g_signal_handlers_disconnect_by_data(entry.widget, this);
  g_object_unref(root_);
}

GtkWidget* AccessibleOverlay::widget() const { return root_; }

void AccessibleOverlay::update(const std::vector<AccessibleNode>& tree) {
  for (auto& [key, entry] : entries_) entry.seen = false;
  for (const AccessibleNode& node : tree) place(node, root_, {0, 0}, false);
  // Members before their groups: a group takes its members with it.
  for (const bool groups : {false, true}) {
    for (auto it = entries_.begin(); it != entries_.end();) {
      if (it->second.seen || isGroup(std::get<2>(it->first)) != groups) {
        ++it;
        continue;
      }
      g_signal_handlers_disconnect_by_data(it->second.widget, this);
      gtk_fixed_remove(GTK_FIXED(it->second.parent), it->second.widget);
      it = entries_.erase(it);
    }
  }
}

AccessibleOverlay::Entry& AccessibleOverlay::entryFor(const AccessibleNode& node, GtkWidget* parent) {
  const Key key{node.owner, node.row, node.role};
  if (auto it = entries_.find(key); it != entries_.end() && it->second.parent == parent) return it->second;
  if (auto it = entries_.find(key); it != entries_.end()) {
    g_signal_handlers_disconnect_by_data(it->second.widget, this);
    gtk_fixed_remove(GTK_FIXED(it->second.parent), it->second.widget);
    entries_.erase(it);
  }
  Entry& entry = entries_[key];
  entry.widget = makeStandIn(node.role);
  entry.parent = parent;
  gtk_fixed_put(GTK_FIXED(parent), entry.widget, 0, 0);
  if (GTK_IS_BUTTON(entry.widget)) {
    g_signal_connect(entry.widget, "clicked", G_CALLBACK(+[](GtkButton* button, gpointer data) {
                       auto* self = static_cast<AccessibleOverlay*>(data);
                       for (const auto& [key, found] : self->entries_) {
                         if (found.widget == GTK_WIDGET(button) && found.tapPoint) return self->tap_(*found.tapPoint);
                       }
                     }),
                     this);
    GtkEventController* keys = gtk_event_controller_key_new();
    g_signal_connect(keys, "key-pressed", G_CALLBACK(pressedByKey), nullptr);
    gtk_widget_add_controller(entry.widget, keys);
    g_signal_connect_swapped(entry.widget, "notify::has-focus", G_CALLBACK(+[](gpointer data) {
                               auto* self = static_cast<AccessibleOverlay*>(data);
                               if (self->focusMoved_) self->focusMoved_();
                             }),
                             this);
  }
  return entry;
}

void AccessibleOverlay::place(const AccessibleNode& node, GtkWidget* parent, ui::Point origin, bool inAlert) {
  const bool appears = !entries_.contains(Key{node.owner, node.row, node.role});
  Entry& entry = entryFor(node, parent);
  entry.seen = true;
  entry.rect = node.rect;
  entry.tapPoint = node.tapPoint;
  entry.inAlert = inAlert;
  if (entry.name != node.name) {
    entry.name = node.name;
    if (GTK_IS_LABEL(entry.widget)) {
      gtk_label_set_text(GTK_LABEL(entry.widget), node.name.c_str());
    } else {
      gtk_accessible_update_property(GTK_ACCESSIBLE(entry.widget), GTK_ACCESSIBLE_PROPERTY_LABEL, node.name.c_str(), -1);
    }
  }
  if (entry.description != node.description) {
    entry.description = node.description;
    gtk_accessible_update_property(GTK_ACCESSIBLE(entry.widget), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                   node.description.c_str(), -1);
  }
  gtk_widget_set_size_request(entry.widget, rounded(node.rect.width()), rounded(node.rect.height()));
  gtk_fixed_move(GTK_FIXED(parent), entry.widget, node.rect.x() - origin.x, node.rect.y() - origin.y);
  for (const AccessibleNode& child : node.children) {
    place(child, entry.widget, node.rect.origin, node.role == AccessibleRole::Alert);
  }
  if (appears && node.takesFocus) gtk_widget_grab_focus(entry.widget);
}

const AccessibleOverlay::Entry* AccessibleOverlay::focusedEntry() const {
  GtkRoot* root = gtk_widget_get_root(root_);
  GtkWidget* focus = root ? gtk_root_get_focus(root) : nullptr;
  if (!focus) return nullptr;
  for (const auto& [key, entry] : entries_) {
    if (entry.widget == focus) return &entry;
  }
  return nullptr;
}

bool AccessibleOverlay::alertButtonHasFocus() const {
  const Entry* entry = focusedEntry();
  return entry && entry->inAlert;
}

std::optional<ui::Rect> AccessibleOverlay::focusRing() const {
  const Entry* entry = focusedEntry();
  GtkRoot* root = gtk_widget_get_root(root_);
  if (!entry || !GTK_IS_WINDOW(root) || !gtk_window_get_focus_visible(GTK_WINDOW(root))) return std::nullopt;
  return entry->rect;
}

}  // namespace gtk
