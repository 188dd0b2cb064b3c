#include "accessible_tree.hpp"

#include <algorithm>
#include <map>

#include "platform/ui/label.hpp"
#include "platform/ui/table_view.hpp"

namespace gtk {

namespace {

// Said after a row that opens a deeper level of the menu.
constexpr const char* kDisclosureDescription = "åpner en undermeny";

ui::Rect visiblePart(const DisplayItem& item) { return item.rect.intersection(item.clip); }

ui::Point centreOf(const ui::Rect& rect) { return {rect.x() + rect.width() / 2, rect.y() + rect.height() / 2}; }

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

class TreeBuilder {
 public:
  explicit TreeBuilder(const std::vector<DisplayItem>& items) : items_(items) {}

  std::vector<AccessibleNode> build() {
    for (const DisplayItem& item : items_) add(item);
    return std::move(nodes_);
  }

 private:
  // The item a tap at the centre of `item` reaches is the item itself.
  bool tapReaches(const DisplayItem& item) const {
    const ui::Rect visible = visiblePart(item);
    return !visible.isNull() && hitTest(items_, centreOf(visible)) == &item;
  }

  // Text is reachable when a tap at its centre lands on it or on a view holding it.
  bool textReachable(const DisplayItem& item) const {
    const ui::Rect visible = visiblePart(item);
    if (visible.isNull()) return false;
    const DisplayItem* hit = hitTest(items_, centreOf(visible));
    if (!hit || hit->kind == ItemKind::AlertDim) return false;
    if (hit == &item) return true;
    auto hitView = hit->view.lock();
    auto view = item.view.lock();
    if (!hitView || !view || hit->row >= 0) return false;
    const auto chain = viewChain(view.get());
    return std::find(chain.begin(), chain.end(), hitView.get()) != chain.end();
  }

  void add(const DisplayItem& item) {
    switch (item.kind) {
      case ItemKind::Button: return addButton(item);
      case ItemKind::Label: return addLabel(item);
      case ItemKind::Image: return addImage(item);
      case ItemKind::NavigationBar: return addBarTitle(item);
      case ItemKind::TableRow: return addRow(item);
      case ItemKind::AlertBox: return addAlert(item);
      case ItemKind::AlertButton: return addAlertButton(item);
      default: return;
    }
  }

  static AccessibleNode control(AccessibleRole role, std::string name, const DisplayItem& item, const void* owner) {
    AccessibleNode node;
    node.role = role;
    node.name = std::move(name);
    node.rect = visiblePart(item);
    node.owner = owner;
    node.row = item.row;
    if (role == AccessibleRole::Button || role == AccessibleRole::ListItem) node.tapPoint = centreOf(node.rect);
    return node;
  }

  void addButton(const DisplayItem& item) {
    auto view = item.view.lock();
    auto* button = dynamic_cast<ui::Button*>(view.get());
    if (!button || !tapReaches(item)) return;
    std::string name = button->accessibilityLabel();
    if (name.empty()) name = trimmed(button->titleForState(ui::kControlStateNormal));
    nodes_.push_back(control(AccessibleRole::Button, std::move(name), item, view.get()));
  }

  void addLabel(const DisplayItem& item) {
    auto view = item.view.lock();
    auto* label = dynamic_cast<ui::Label*>(view.get());
    if (!label || !textReachable(item)) return;
    std::string name = label->accessibilityLabel().empty() ? label->text() : label->accessibilityLabel();
    if (trimmed(name).empty()) return;
    nodes_.push_back(control(AccessibleRole::Label, std::move(name), item, view.get()));
  }

  // Pictures say nothing unless they were given words (a site's logo as its title).
  void addImage(const DisplayItem& item) {
    auto view = item.view.lock();
    if (!view || view->accessibilityLabel().empty() || !textReachable(item)) return;
    nodes_.push_back(control(AccessibleRole::Label, view->accessibilityLabel(), item, view.get()));
  }

  // A bar without a title view draws its item's title itself.
  void addBarTitle(const DisplayItem& item) {
    auto view = item.view.lock();
    auto* bar = dynamic_cast<ui::NavigationBar*>(view.get());
    if (!bar || !bar->topItem() || bar->topItem()->titleView() || trimmed(bar->topItem()->title()).empty()) return;
    if (!textReachable(item)) return;
    nodes_.push_back(control(AccessibleRole::Label, bar->topItem()->title(), item, view.get()));
  }

  void addRow(const DisplayItem& item) {
    auto view = item.view.lock();
    auto* table = dynamic_cast<ui::TableView*>(view.get());
    if (!table || !tapReaches(item)) return;
    auto cell = table->cellForRow({0, item.row});
    AccessibleNode row = control(AccessibleRole::ListItem, cell ? cell->textLabel().text() : "", item, table);
    if (cell && cell->accessoryType() == ui::TableViewCellAccessory::DisclosureIndicator) {
      row.description = kDisclosureDescription;
    }
    listOf(*table, item).children.push_back(std::move(row));
  }

  AccessibleNode& listOf(ui::TableView& table, const DisplayItem& item) {
    if (auto it = lists_.find(&table); it != lists_.end()) return nodes_[it->second];
    AccessibleNode list;
    list.role = AccessibleRole::List;
    list.rect = item.clip;
    list.owner = &table;
    lists_.emplace(&table, nodes_.size());
    nodes_.push_back(std::move(list));
    return nodes_.back();
  }

  void addAlert(const DisplayItem& item) {
    auto alert = item.alert.lock();
    if (!alert) return;
    AccessibleNode node;
    node.role = AccessibleRole::Alert;
    node.name = alert->title();
    node.description = alert->message();
    node.rect = item.rect;
    node.owner = alert.get();
    alertIndex_ = nodes_.size();
    nodes_.push_back(std::move(node));
  }

  void addAlertButton(const DisplayItem& item) {
    auto alert = item.alert.lock();
    if (!alert || !alertIndex_ || !tapReaches(item)) return;
    AccessibleNode button = control(AccessibleRole::Button, alert->buttonTitleAtIndex(item.row), item, alert.get());
    button.takesFocus = item.row == alert->numberOfButtons() - 1;
    nodes_[*alertIndex_].children.push_back(std::move(button));
  }

  const std::vector<DisplayItem>& items_;
  std::vector<AccessibleNode> nodes_;
  std::map<const ui::TableView*, std::size_t> lists_;
  std::optional<std::size_t> alertIndex_;
};

}  // namespace

std::vector<AccessibleNode> accessibleTree(const std::vector<DisplayItem>& items) {
  return TreeBuilder(items).build();
}

}  // namespace gtk
