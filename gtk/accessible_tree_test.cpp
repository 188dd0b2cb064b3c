#include "accessible_tree.hpp"

#include <gtest/gtest.h>

#include "platform/ui/control.hpp"
#include "platform/ui/label.hpp"
#include "platform/ui/table_view.hpp"

namespace gtk {
namespace {

ui::Rect modelFrame(const ui::View& view) { return view.frame(); }

std::vector<AccessibleNode> treeOf(ui::View& root) {
  return accessibleTree(buildDisplayList(&root, {390, 844}, modelFrame));
}

const AccessibleNode* named(const std::vector<AccessibleNode>& nodes, const std::string& name) {
  for (const AccessibleNode& node : nodes) {
    if (node.name == name) return &node;
    if (const AccessibleNode* inner = named(node.children, name)) return inner;
  }
  return nullptr;
}

// Rows titled "Rad N"; the last one opens a deeper level.
class Menu final : public ui::TableViewDataSource, public ui::TableViewDelegate {
 public:
  int numberOfRows(ui::TableView&, int) override { return 3; }
  std::shared_ptr<ui::TableViewCell> cellForRow(ui::TableView&, ui::IndexPath path) override {
    auto cell = ui::TableViewCell::create(ui::TableViewCellStyle::Default, "row");
    cell->textLabel().setText("Rad " + std::to_string(path.row));
    if (path.row == 2) cell->setAccessoryType(ui::TableViewCellAccessory::DisclosureIndicator);
    return cell;
  }
};

// A sidebar under a front page that slides aside, with a titled button on
// the front and a caption on the sidebar.
struct Panels {
  std::shared_ptr<ui::View> root = ui::View::create({0, 0, 390, 844});
  std::shared_ptr<ui::View> rear = ui::View::create({0, 0, 390, 844});
  std::shared_ptr<ui::TableView> table = ui::TableView::create({120, 44, 270, 800});
  std::shared_ptr<ui::Label> caption = ui::Label::create({120, 0, 270, 44});
  std::shared_ptr<ui::View> front = ui::View::create({0, 0, 390, 844});
  std::shared_ptr<ui::Button> menu = std::make_shared<ui::Button>(ui::ButtonType::Custom, ui::Rect(330, 0, 60, 44));
  std::shared_ptr<ui::Button> back = std::make_shared<ui::Button>(ui::ButtonType::Custom, ui::Rect(0, 800, 44, 44));
  std::shared_ptr<Menu> rows = std::make_shared<Menu>();

  Panels() {
    table->setDataSource(rows);
    table->setDelegate(rows);
    caption->setText("Vestavind");
    rear->addSubview(caption);
    rear->addSubview(table);
    menu->setTitle(" MENY");
    back->setAccessibilityLabel("Tilbake");
    front->setBackgroundColor(ui::Color::whiteColor());
    front->addSubview(menu);
    front->addSubview(back);
    root->addSubview(rear);
    root->addSubview(front);
  }
};

TEST(AccessibleTree, OffersOnlyWhatATapCouldReachNamedAsAPersonReadsIt) {
  Panels panels;
  auto closed = treeOf(*panels.root);
  ASSERT_EQ(closed.size(), 2u);
  EXPECT_EQ(closed[0].role, AccessibleRole::Button);
  EXPECT_EQ(closed[0].name, "MENY");
  EXPECT_EQ(closed[0].tapPoint, ui::Point(360, 22));
  EXPECT_EQ(closed[1].name, "Tilbake");
  EXPECT_EQ(named(closed, "Rad 0"), nullptr) << "the sidebar lies under the page";
  EXPECT_EQ(named(closed, "Vestavind"), nullptr);

  // Slid aside with its controls switched off, the page offers nothing but
  // the sidebar's caption and rows, which form a list.
  panels.front->setFrame({-270, 0, 390, 844});
  panels.menu->setUserInteractionEnabled(false);
  panels.back->setUserInteractionEnabled(false);
  auto open = treeOf(*panels.root);
  EXPECT_EQ(named(open, "MENY"), nullptr);
  const AccessibleNode* caption = named(open, "Vestavind");
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->role, AccessibleRole::Label);
  EXPECT_FALSE(caption->tapPoint);
  const AccessibleNode* list = nullptr;
  for (const auto& node : open) {
    if (node.role == AccessibleRole::List) list = &node;
  }
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->children.size(), 3u);
  EXPECT_EQ(list->children[0].rect, ui::Rect(120, 44, 270, 44));
  EXPECT_EQ(list->children[1].tapPoint, ui::Point(255, 110));
  EXPECT_EQ(list->children[1].row, 1);
  EXPECT_EQ(list->children[0].description, "");
  EXPECT_EQ(list->children[2].description, "åpner en undermeny");
}

TEST(AccessibleTree, AnAlertIsTheOnlyThingOfferedWhileItIsShown) {
  Panels panels;
  auto alert = ui::AlertView::create("Vestavind", "Ny sak", {}, std::string("Lukk"), {"Les mer"});
  alert->show();
  const auto tree = treeOf(*panels.root);
  ASSERT_EQ(tree.size(), 1u);
  EXPECT_EQ(tree[0].role, AccessibleRole::Alert);
  EXPECT_EQ(tree[0].name, "Vestavind");
  EXPECT_EQ(tree[0].description, "Ny sak");
  ASSERT_EQ(tree[0].children.size(), 2u);
  EXPECT_EQ(tree[0].children[1].name, "Les mer");
  EXPECT_EQ(tree[0].children[1].row, 1);
  // Enter takes the last button, so the keyboard starts there.
  EXPECT_FALSE(tree[0].children[0].takesFocus);
  EXPECT_TRUE(tree[0].children[1].takesFocus);
  ASSERT_TRUE(tree[0].children[1].tapPoint);
  EXPECT_TRUE(tree[0].children[1].rect.contains(*tree[0].children[1].tapPoint));
  alert->dismissWithClickedButtonIndex(0);
  EXPECT_EQ(treeOf(*panels.root).size(), 2u);
}

}  // namespace
}  // namespace gtk
