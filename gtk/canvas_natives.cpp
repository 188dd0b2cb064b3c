// The native widgets a canvas places where their model views are: web
// views and search fields.

#include <algorithm>
#include <cmath>

#include "canvas_impl.hpp"
#include "platform/ui/alert_view.hpp"
#include "web_view.hpp"

namespace gtk {

GtkWidget* Canvas::Impl::searchEntryFor(const std::shared_ptr<ui::View>& bar) {
  for (const auto& field : searchFields) {
    if (field.bar.lock() == bar) return field.entry;
  }
  GtkWidget* entry = gtk_search_entry_new();
  gtk_accessible_update_property(GTK_ACCESSIBLE(entry), GTK_ACCESSIBLE_PROPERTY_LABEL, "Søk", -1);
  gtk_widget_set_parent(entry, widget);
  g_signal_connect(entry, "activate", G_CALLBACK(+[](GtkSearchEntry* e, gpointer data) {
                     auto* self = static_cast<Impl*>(data);
                     if (auto bar = self->searchBarOf(GTK_WIDGET(e))) {
                       self->takeText(*bar, GTK_WIDGET(e));
                       bar->tapSearchButton();
                     }
                   }),
                   this);
  g_signal_connect(entry, "search-changed", G_CALLBACK(+[](GtkSearchEntry* e, gpointer data) {
                     auto* self = static_cast<Impl*>(data);
                     if (auto bar = self->searchBarOf(GTK_WIDGET(e))) self->takeText(*bar, GTK_WIDGET(e));
                   }),
                   this);
  searchFields.push_back({bar, entry});
  return entry;
}

std::shared_ptr<ui::SearchBar> Canvas::Impl::searchBarOf(GtkWidget* entry) {
  for (const auto& field : searchFields) {
    if (field.entry == entry) return std::dynamic_pointer_cast<ui::SearchBar>(field.bar.lock());
  }
  return nullptr;
}

void Canvas::Impl::takeText(ui::SearchBar& bar, GtkWidget* entry) {
  if (syncingText) return;
  const std::string text = gtk_editable_get_text(GTK_EDITABLE(entry));
  if (text != bar.text()) bar.type(text);
}

void Canvas::Impl::allocateChild(GtkWidget* child, const ui::Rect& rect) {
  int minimumWidth = 0;
  int minimumHeight = 0;
  gtk_widget_measure(child, GTK_ORIENTATION_HORIZONTAL, -1, &minimumWidth, nullptr, nullptr, nullptr);
  gtk_widget_measure(child, GTK_ORIENTATION_VERTICAL, -1, &minimumHeight, nullptr, nullptr, nullptr);
  GtkAllocation allocation{int(std::lround(rect.x())), int(std::lround(rect.y())),
                           std::max(minimumWidth, int(std::lround(rect.width()))),
                           std::max(minimumHeight, int(std::lround(rect.height())))};
  gtk_widget_size_allocate(child, &allocation, -1);
}

void Canvas::Impl::placeNatives(int width, int height) {
  // Fields whose search bar is gone leave the canvas.
  std::erase_if(searchFields, [](const SearchField& field) {
    if (!field.bar.expired()) return false;
    gtk_widget_unparent(field.entry);
    return true;
  });
  const bool alertShown = !ui::AlertView::visibleAlerts().empty();
  std::vector<GtkWidget*> placed;
  for (const DisplayItem& item : items) {
    auto view = item.view.lock();
    if (!view) continue;
    GtkWidget* child = nullptr;
    if (item.kind == ItemKind::WebView) {
      auto* web = dynamic_cast<gtk::WebView*>(view.get());
      if (!web) continue;
      child = web->widget();
      if (gtk_widget_get_parent(child) != widget) {
        if (gtk_widget_get_parent(child)) gtk_widget_unparent(child);
        gtk_widget_set_parent(child, widget);
      }
    } else if (item.kind == ItemKind::SearchField) {
      child = searchEntryFor(view);
      auto* bar = static_cast<ui::SearchBar*>(view.get());
      const char* shown = gtk_editable_get_text(GTK_EDITABLE(child));
      if (bar->text() != shown && !gtk_widget_has_focus(child)) {
        syncingText = true;
        gtk_editable_set_text(GTK_EDITABLE(child), bar->text().c_str());
        syncingText = false;
      }
      if (!bar->placeholder().empty()) g_object_set(child, "placeholder-text", bar->placeholder().c_str(), nullptr);
      if (std::exchange(searchFocusWanted, false)) gtk_widget_grab_focus(child);
    } else {
      continue;
    }
    gtk_widget_set_child_visible(child, TRUE);
    gtk_widget_set_can_target(child, item.interactive && !alertShown);
    gtk_widget_set_opacity(child, item.opacity);
    allocateChild(child, item.rect);
    placed.push_back(child);
  }
  allocateChild(overlay.widget(), ui::Rect(0, 0, width, height));
  placed.push_back(overlay.widget());
  for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
    if (std::find(placed.begin(), placed.end(), child) == placed.end()) gtk_widget_set_child_visible(child, FALSE);
  }
}

}  // namespace gtk
