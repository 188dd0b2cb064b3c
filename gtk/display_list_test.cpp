#include "display_list.hpp"

#include <gtest/gtest.h>

#include "platform/ui/control.hpp"
#include "platform/ui/label.hpp"
#include "platform/ui/table_view.hpp"
#include "platform/ui/window.hpp"

namespace gtk {
namespace {

ui::Rect modelFrame(const ui::View& view) { return view.frame(); }

std::vector<DisplayItem> listFor(ui::View& root, ui::Size canvas = {390, 844}) {
  return buildDisplayList(&root, canvas, modelFrame);
}

class Rows final : public ui::TableViewDataSource, public ui::TableViewDelegate {
 public:
  explicit Rows(int count) : count_(count) {}
  int numberOfRows(ui::TableView&, int) override { return count_; }
  std::shared_ptr<ui::TableViewCell> cellForRow(ui::TableView&, ui::IndexPath) override {
    return ui::TableViewCell::create(ui::TableViewCellStyle::Default, "row");
  }

 private:
  int count_;
};

TEST(DisplayList, PlacesNestedViewsOnTheCanvasAndSkipsHiddenOnes) {
  auto root = ui::View::create({0, 0, 390, 844});
  auto moved = ui::View::create({-270, 0, 390, 844});
  auto inner = ui::Label::create({300, 20, 100, 30});
  auto hidden = ui::View::create({0, 0, 50, 50});
  hidden->setHidden(true);
  moved->addSubview(inner);
  moved->addSubview(hidden);
  root->addSubview(moved);

  const auto items = listFor(*root);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2].kind, ItemKind::Label);
  EXPECT_EQ(items[2].rect, ui::Rect(30, 20, 100, 30));
}

TEST(DisplayList, TapsReachTheFrontmostInteractiveItemOnly) {
  auto root = ui::View::create({0, 0, 390, 844});
  auto front = ui::View::create({0, 0, 390, 844});
  auto content = ui::View::create({0, 0, 390, 844});
  auto button = std::make_shared<ui::Button>(ui::ButtonType::Custom, ui::Rect(10, 10, 60, 44));
  content->addSubview(button);
  front->addSubview(content);
  root->addSubview(front);

  auto items = listFor(*root);
  const DisplayItem* hit = hitTest(items, {20, 20});
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(hit->view.lock(), button);

  // With the contained view switched off (a side open), the front container takes the tap.
  content->setUserInteractionEnabled(false);
  items = listFor(*root);
  hit = hitTest(items, {20, 20});
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(hit->view.lock(), front);
}

TEST(DisplayList, ClippingViewsHideWhatLiesOutsideThem) {
  auto root = ui::View::create({0, 0, 390, 844});
  auto clipper = ui::View::create({100, 0, 100, 100});
  clipper->layer().setMasksToBounds(true);
  auto wide = ui::View::create({-50, 0, 300, 50});
  clipper->addSubview(wide);
  root->addSubview(clipper);

  const auto items = listFor(*root);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2].clip, ui::Rect(100, 0, 100, 100));
  EXPECT_EQ(hitTest(items, {60, 10})->view.lock(), root);
  EXPECT_EQ(hitTest(items, {120, 10})->view.lock(), wide);
}

TEST(DisplayList, TableRowsFollowTheScrollOffsetAndStayInsideTheTable) {
  auto root = ui::View::create({0, 0, 390, 844});
  auto table = ui::TableView::create({120, 44, 270, 100});
  auto rows = std::make_shared<Rows>(5);
  table->setDataSource(rows);
  table->setDelegate(rows);
  root->addSubview(table);
  table->setContentOffset({0, 30}, false);

  const auto items = listFor(*root);
  std::vector<const DisplayItem*> shown;
  for (const auto& item : items) {
    if (item.kind == ItemKind::TableRow) shown.push_back(&item);
  }
  // Rows 0..2 meet the 100 points of table seen from offset 30.
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0]->rect, ui::Rect(120, 14, 270, 44));
  EXPECT_EQ(shown[0]->clip, ui::Rect(120, 44, 270, 100));
  EXPECT_EQ(hitTest(items, {200, 50})->row, 0);
  EXPECT_EQ(hitTest(items, {200, 110})->row, 2);
}

TEST(DisplayList, NavigationBarItemsSitAtTheEdgesAndTheTitleBetweenThem) {
  ui::NavigationItem item;
  item.setLeftBarButtonItem(ui::BarButtonItem::withCustomView(ui::View::create({0, 0, 120, 44})));
  item.setRightBarButtonItem(ui::BarButtonItem::withCustomView(ui::View::create({0, 0, 60, 44})));
  item.setTitleView(ui::View::create({0, 0, 390, 44}));

  const NavigationBarLayout layout = layoutNavigationBar(item, {390, 44});
  EXPECT_EQ(layout.left, ui::Rect(5, 0, 120, 44));
  EXPECT_EQ(layout.right, ui::Rect(325, 0, 60, 44));
  ASSERT_TRUE(layout.title);
  // A title view wider than the room left is narrowed to it.
  EXPECT_EQ(layout.title->x(), 130);
  EXPECT_EQ(layout.title->maxX(), 320);

  ui::NavigationItem spinnerOnly;
  spinnerOnly.setTitleView(ui::View::create({0, 0, 20, 20}));
  EXPECT_EQ(layoutNavigationBar(spinnerOnly, {390, 44}).title, ui::Rect(185, 12, 20, 20));
}

TEST(DisplayList, ToolbarFlexibleSpacePushesTheLastItemToTheRightEdge) {
  auto back = ui::View::create({54, 0, 44, 44});
  auto forward = ui::View::create({54, 0, 44, 44});
  auto share = ui::View::create({0, 0, 30, 20});
  const auto rects = layoutToolbar({ui::BarButtonItem::withCustomView(back), ui::BarButtonItem::withCustomView(forward),
                                    ui::BarButtonItem::flexibleSpace(), ui::BarButtonItem::withCustomView(share)},
                                   {390, 44});
  ASSERT_EQ(rects.size(), 4u);
  EXPECT_EQ(rects[0], ui::Rect(6, 0, 44, 44));
  EXPECT_EQ(rects[1], ui::Rect(60, 0, 44, 44));
  EXPECT_DOUBLE_EQ(rects[3].maxX(), 384);
  EXPECT_EQ(rects[3].y(), 12);
}

TEST(DisplayList, AnOpenAlertCoversEverythingAndOffersItsButtons) {
  auto root = ui::View::create({0, 0, 390, 844});
  auto button = std::make_shared<ui::Button>(ui::ButtonType::Custom, ui::Rect(0, 0, 390, 844));
  root->addSubview(button);
  auto alert = ui::AlertView::create("Vestavind", "Ny sak", {}, std::string("Lukk"), {"Les mer"});
  alert->show();

  const auto items = listFor(*root);
  const AlertLayout layout = layoutAlert(*alert, {390, 844});
  ASSERT_EQ(layout.buttons.size(), 2u);
  const DisplayItem* lukk = hitTest(items, {layout.buttons[0].x() + 5, layout.buttons[0].y() + 5});
  const DisplayItem* lesMer = hitTest(items, {layout.buttons[1].x() + 5, layout.buttons[1].y() + 5});
  ASSERT_NE(lukk, nullptr);
  ASSERT_NE(lesMer, nullptr);
  EXPECT_EQ(lukk->kind, ItemKind::AlertButton);
  EXPECT_EQ(lukk->row, 0);
  EXPECT_EQ(lesMer->row, 1);
  // Outside the box the veil takes the tap, not the button beneath.
  EXPECT_EQ(hitTest(items, {5, 5})->kind, ItemKind::AlertDim);
  alert->dismissWithClickedButtonIndex(0);
}

TEST(ButtonLayout, TheMenuTitleEndsBeforeItsIconWhateverTheInsetsSay) {
  // The bar's menu button: icon pushed to the right edge, " MENY" pulled left across it.
  auto menu = ui::Button::create(ui::ButtonType::Custom);
  menu->setImageEdgeInsets({0, 60 - 22, 0, 0});
  menu->setTitleEdgeInsets({0, -75, 0, 0});
  for (double titleWidth : {20.0, 40.0, 70.0}) {
    const ButtonLayout layout = layoutButton(*menu, {300, 0, 60, 44}, {22, 18}, {titleWidth, 16});
    ASSERT_TRUE(layout.image && layout.title);
    EXPECT_LE(layout.title->maxX(), layout.image->x()) << titleWidth;
    EXPECT_GT(layout.title->width(), 0);
  }
  // Insets that keep them apart are followed as they are.
  auto home = ui::Button::create(ui::ButtonType::Custom);
  home->setImageEdgeInsets({0, -15, 0, 0});
  const ButtonLayout layout = layoutButton(*home, {0, 0, 120, 44}, {12, 20}, {90, 16});
  ASSERT_TRUE(layout.image && layout.title);
  EXPECT_EQ(layout.image->x(), 9 - 7.5);
  EXPECT_EQ(layout.title->x(), 9 + 12);
  EXPECT_FALSE(layoutButton(*home, {0, 0, 120, 44}, {}, {}).image);
}

}  // namespace
}  // namespace gtk
