#include "app/sidebar_view_controller.hpp"

#include "support/app/shell_fixture.hpp"

namespace app {
namespace {

using testing::ShellTest;
namespace ui = platform::ui;

constexpr const char* kMenu = R"({"Vestavind": [
  {"title": "Sport", "url": "http://www.vestavind.test/sport", "navtype": "kNavBarVestavindSection"},
  {"title": "Spillboks", "navtype": "kNavBarSpillboksSection",
   "submenu": [{"title": "Brett", "url": "http://spill.spillboks.test/brett"}]},
  {"title": "Glimt", "url": "http://www.glimt.test", "navtype": "kNavBarGlimtSection",
   "submenu": [{"title": "Kjendis", "url": "http://www.glimt.test/k"}]},
  {"title": "Tom", "submenu": []}
]})";

class SidebarTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    sites.setMenuConfig(kMenu);
    launch();
    container()->showViewController(container()->rightViewController());
    settle();
  }

  void select(int row) {
    auto level = sidebarLevel();
    level->view();
    level->tableView()->tapRow({0, row});
    settle();
  }
};

TEST_F(SidebarTest, RowsShowTitlesAndDiscloseOnlyNonEmptySubmenus) {
  auto level = sidebarLevel();
  level->view();
  ui::TableView& table = *level->tableView();
  ASSERT_EQ(table.numberOfRows(0), 4);
  EXPECT_EQ(table.cellForRow({0, 0})->textLabel().text(), "Sport");
  EXPECT_EQ(table.cellForRow({0, 0})->accessoryType(), ui::TableViewCellAccessory::None);
  EXPECT_EQ(table.cellForRow({0, 1})->accessoryType(), ui::TableViewCellAccessory::DisclosureIndicator);
  EXPECT_EQ(table.cellForRow({0, 3})->accessoryType(), ui::TableViewCellAccessory::None);
  EXPECT_EQ(table.cellForRow({0, 1})->indentationLevel(), 1);
}

TEST_F(SidebarTest, EntryWithURLOpensThePageAndClosesTheSidebar) {
  select(0);
  ASSERT_EQ(front().viewControllers().size(), 2u);
  EXPECT_EQ(frontScreen()->url(), "http://www.vestavind.test/sport");
  EXPECT_EQ(frontScreen()->navType(), "kNavBarVestavindSection");
  EXPECT_EQ(frontScreen()->navTitle(), "Sport");
  EXPECT_EQ(container()->focusedController(), container()->frontViewController());
  EXPECT_EQ(sidebarNavigation()->viewControllers().size(), 1u);
}

TEST_F(SidebarTest, EntryWithOnlyASubmenuOpensADeeperLevelWithItsBackButton) {
  select(1);
  EXPECT_EQ(front().viewControllers().size(), 1u);
  ASSERT_EQ(sidebarNavigation()->viewControllers().size(), 2u);
  auto level = sidebarLevel();
  EXPECT_EQ(level->navTitle(), "Spillboks");
  EXPECT_EQ(level->navtype(), "kNavBarSpillboksSection");
  auto* back = dynamic_cast<ui::Button*>(level->navigationItem().leftBarButtonItem()->customView().get());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->imageForState(ui::kControlStateNormal).name(), "backButton_black.png");
  EXPECT_EQ(back->frame().origin, (ui::Point{100, 0}));
  auto* title = dynamic_cast<ui::Label*>(level->navigationItem().titleView().get());
  ASSERT_TRUE(title);
  EXPECT_EQ(title->text(), "Spillboks");
  EXPECT_EQ(title->textColor(), ui::Color::blueColor());
  EXPECT_EQ(sidebarNavigation()->navigationBar().backgroundImage(ui::BarMetrics::Default).name(),
            "navBarHomeBgSpillboks.jpg");

  back->tap();
  settle();
  EXPECT_EQ(sidebarNavigation()->viewControllers().size(), 1u);
  // Returning restores the root level's own bar.
  EXPECT_EQ(sidebarNavigation()->navigationBar().backgroundImage(ui::BarMetrics::Default).name(), "navBarHomeBg.png");
}

TEST_F(SidebarTest, EntryWithBothOpensThePageAndPushesTheSubmenu) {
  select(2);
  EXPECT_EQ(frontScreen()->url(), "http://www.glimt.test");
  ASSERT_EQ(sidebarNavigation()->viewControllers().size(), 2u);
  auto level = sidebarLevel();
  level->view();
  auto* back = dynamic_cast<ui::Button*>(level->navigationItem().leftBarButtonItem()->customView().get());
  EXPECT_EQ(back->imageForState(ui::kControlStateNormal).name(), "backButton_white.png");
}

TEST_F(SidebarTest, EmptySubmenuPushesNothingAndDeselects) {
  select(3);
  EXPECT_EQ(front().viewControllers().size(), 1u);
  EXPECT_EQ(sidebarNavigation()->viewControllers().size(), 1u);
  EXPECT_FALSE(sidebarLevel()->tableView()->indexPathForSelectedRow());
}

TEST_F(SidebarTest, RightSwipeLeavesADeeperLevelButNotTheRoot) {
  auto swipeTop = [&] {
    auto level = sidebarLevel();
    level->view();
    for (const auto& recognizer : level->tableView()->gestureRecognizers()) {
      if (auto* swipe = dynamic_cast<ui::SwipeGestureRecognizer*>(recognizer.get())) swipe->swipe(ui::kSwipeDirectionRight);
    }
    settle();
  };
  swipeTop();
  EXPECT_EQ(sidebarNavigation()->viewControllers().size(), 1u);
  select(1);
  ASSERT_EQ(sidebarNavigation()->viewControllers().size(), 2u);
  swipeTop();
  EXPECT_EQ(sidebarNavigation()->viewControllers().size(), 1u);
}

TEST_F(SidebarTest, SearchOpensTheEscapedArchiveQueryForTheDevice) {
  auto root = sidebarLevel();
  ASSERT_TRUE(root->searchBar());
  root->searchBar()->type("R&B+jazz=100% #1 /ø");
  root->searchBar()->tapSearchButton();
  settle();
  ASSERT_EQ(front().viewControllers().size(), 2u);
  EXPECT_EQ(frontScreen()->url(), "http://m.vestavind.test/tekstarkiv/?q=R%26B%2Bjazz%3D100%25%20%231%20%2F%C3%B8");
  EXPECT_EQ(frontScreen()->navTitle(), "Søk");
  EXPECT_EQ(frontScreen()->navType(), "kNavBarArticle");
  EXPECT_EQ(container()->focusedController(), container()->frontViewController());
}

}  // namespace
}  // namespace app
