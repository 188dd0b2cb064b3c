#pragma once
// One level of the sidebar menu: a table of menu entries on the sidebar's
// own navigation stack. Choosing an entry opens its page on the front stack
// and closes the sidebar, and/or opens its submenu as a deeper level. The
// main site's root level carries the archive search field. Main thread only.

#include <memory>
#include <string>

#include "app/menu_entry.hpp"
#include "app/nav_type.hpp"
#include "platform/ui/gesture_recognizer.hpp"
#include "platform/ui/search_bar.hpp"
#include "platform/ui/table_view.hpp"
#include "platform/ui/view_controller.hpp"

namespace app {

class SidebarViewController : public platform::ui::ViewController,
                              public platform::ui::TableViewDataSource,
                              public platform::ui::TableViewDelegate,
                              public platform::ui::SearchBarDelegate {
 public:
  // A level showing `menu`; `navtype` (empty: none) dresses its bar and is
  // given to the screens it opens; `title` is the level's title.
  SidebarViewController(Menu menu, NavType navtype, std::string title);
  static std::shared_ptr<SidebarViewController> create(Menu menu, NavType navtype, std::string title);

  const Menu& data() const { return data_; }
  const NavType& navtype() const { return navtype_; }
  const std::string& navTitle() const { return navTitle_; }
  platform::ui::TableView* tableView() const { return tableView_.get(); }
  // The search field while this level shows one, else null.
  platform::ui::SearchBar* searchBar() const { return searchBar_.get(); }

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  int numberOfSections(platform::ui::TableView& tableView) override { return 1; }
  int numberOfRows(platform::ui::TableView& tableView, int section) override;
  std::shared_ptr<platform::ui::TableViewCell> cellForRow(platform::ui::TableView& tableView,
                                                          platform::ui::IndexPath indexPath) override;
  int indentationLevelForRow(platform::ui::TableView& tableView, platform::ui::IndexPath indexPath) override {
    return 1;
  }
  void didSelectRow(platform::ui::TableView& tableView, platform::ui::IndexPath indexPath) override;

  void searchBarSearchButtonClicked(platform::ui::SearchBar& searchBar) override;

  // Leaving a deeper level: a rightward swipe, or the back button.
  void handleSwipe(platform::ui::SwipeGestureRecognizer& recognizer);
  void goBack();

 private:
  void openPage(const std::string& url, const NavType& navType, const std::string& title, bool animated);
  void installBackButton();

  std::shared_ptr<platform::ui::TableView> tableView_;
  Menu data_;
  NavType navtype_;
  std::string navTitle_;
  std::shared_ptr<platform::ui::SearchBar> searchBar_;
};

}  // namespace app
