#include "app/sidebar_view_controller.hpp"

#include "app/nav_bar_dressing.hpp"
#include "app/search_url.hpp"
#include "app/view_controller.hpp"
#include "platform/ui/control.hpp"
#include "platform/ui/label.hpp"
#include "platform/ui/navigation_controller.hpp"
#include "platform/ui/window.hpp"
#include "reveal_access.hpp"

namespace app {

namespace ui = platform::ui;

namespace {

constexpr const char* kCellIdentifier = "MyIdentifier";

ui::Color colourOf(TitleColour colour) {
  switch (colour) {
    case TitleColour::White: return ui::Color::whiteColor();
    case TitleColour::Black: return ui::Color::blackColor();
    case TitleColour::Blue: return ui::Color::blueColor();
  }
  return ui::Color::blackColor();
}

}  // namespace

SidebarViewController::SidebarViewController(Menu menu, NavType navtype, std::string title)
    : data_(std::move(menu)), navtype_(std::move(navtype)), navTitle_(std::move(title)) {
  setTitle(navTitle_);
}

std::shared_ptr<SidebarViewController> SidebarViewController::create(Menu menu, NavType navtype, std::string title) {
  return std::make_shared<SidebarViewController>(std::move(menu), std::move(navtype), std::move(title));
}

void SidebarViewController::loadView() {
  const ui::Rect screen = ui::Screen::main().bounds();
  tableView_ = ui::TableView::create(ui::Rect(0, 0, screen.width(), screen.height()), ui::TableViewStyle::Plain);
  auto self = sharedAs<SidebarViewController>();
  tableView_->setDataSource(self);
  tableView_->setDelegate(self);
  std::weak_ptr<SidebarViewController> weakSelf = self;
  auto swipe = std::make_shared<ui::SwipeGestureRecognizer>([weakSelf](ui::GestureRecognizer& recognizer) {
    if (auto level = weakSelf.lock()) level->handleSwipe(static_cast<ui::SwipeGestureRecognizer&>(recognizer));
  });
  tableView_->addGestureRecognizer(swipe);
  setView(tableView_);
}

void SidebarViewController::viewDidLoad() {
  ui::ViewController::viewDidLoad();
  ui::NavigationController* navigation = navigationController();
  if (navigation && navigation->viewControllers().size() >= 2) installBackButton();
}

void SidebarViewController::installBackButton() {
  const ui::Image image = ui::Image::named(sidebarBackButtonImage(navtype_));
  auto button = ui::Button::create(ui::ButtonType::Custom);
  button->setImage(image, ui::kControlStateNormal);
  button->setFrame(ui::Rect(ui::Point{100, 0}, image.size()));
  button->setAccessibilityLabel("Tilbake");
  std::weak_ptr<SidebarViewController> weakSelf = sharedAs<SidebarViewController>();
  button->addAction(ui::kControlEventTouchUpInside, [weakSelf](ui::Control&) {
    if (auto level = weakSelf.lock()) level->goBack();
  });
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withCustomView(button));
}

void SidebarViewController::viewWillAppear(bool animated) {
  ui::ViewController::viewWillAppear(animated);
  auto label = ui::Label::create(ui::Rect());
  label->setBackgroundColor(ui::Color::clearColor());
  label->setTextColor(ui::Color::blackColor());
  label->setFont(ui::Font::boldSystemFont(18));
  label->setShadowOffset({0, -1});
  label->setText(navTitle_);

  const NavBarDressing dressing = sidebarDressing(navtype_);
  if (dressing.labelColour) label->setTextColor(colourOf(*dressing.labelColour));
  switch (dressing.titleView) {
    case TitleViewKind::Label:
      navigationItem().setTitleView(label);
      label->sizeToFit();
      break;
    case TitleViewKind::SearchField: {
      navigationItem().setTitleView(label);
      label->sizeToFit();
      searchBar_ = ui::SearchBar::create(ui::Rect());
      searchBar_->setDelegate(sharedAs<SidebarViewController>());
      searchBar_->setBackgroundImage(ui::Image());
      navigationItem().setTitleView(searchBar_);
      searchBar_->sizeToFit();
      break;
    }
    case TitleViewKind::Image: {
      auto logo = ui::ImageView::create(ui::Image::named(dressing.titleImage));
      logo->setAccessibilityLabel(navTitle_);
      navigationItem().setTitleView(logo);
      break;
    }
    case TitleViewKind::Unchanged:
      break;
  }
  if (dressing.barBackground) {
    if (ui::NavigationController* navigation = navigationController()) {
      navigation->navigationBar().setBackgroundImage(ui::Image::named(*dressing.barBackground), ui::BarMetrics::Default);
    }
  }
}

int SidebarViewController::numberOfRows(ui::TableView&, int) { return static_cast<int>(data_.size()); }

std::shared_ptr<ui::TableViewCell> SidebarViewController::cellForRow(ui::TableView& tableView, ui::IndexPath indexPath) {
  auto cell = tableView.dequeueReusableCell(kCellIdentifier);
  if (!cell) cell = ui::TableViewCell::create(ui::TableViewCellStyle::Default, kCellIdentifier);
  if (indexPath.row < 0 || static_cast<std::size_t>(indexPath.row) >= data_.size()) return cell;
  const MenuEntry& entry = data_[static_cast<std::size_t>(indexPath.row)];
  cell->textLabel().setText(entry.title);
  cell->textLabel().setBackgroundColor(ui::Color::clearColor());
  // Set both ways: a reused cell must not keep another row's indicator.
  cell->setAccessoryType(entry.hasSubmenu() ? ui::TableViewCellAccessory::DisclosureIndicator
                                            : ui::TableViewCellAccessory::None);
  return cell;
}

void SidebarViewController::openPage(const std::string& url, const NavType& navType, const std::string& title,
                                     bool animated) {
  auto container = containerOf(*this);
  if (!container) return;
  auto front = frontNavigationOf(*container);
  if (!front) return;
  front->pushViewController(app::ViewController::create(url, navType, title), animated);
  container->showViewController(container->frontViewController());
}

void SidebarViewController::didSelectRow(ui::TableView& tableView, ui::IndexPath indexPath) {
  if (indexPath.row < 0 || static_cast<std::size_t>(indexPath.row) >= data_.size()) return;
  // A copy: pushing screens below may run code that outlives this level.
  const MenuEntry entry = data_[static_cast<std::size_t>(indexPath.row)];
  const NavType navType = entry.navtype.value_or("");
  if (entry.url) {
    openPage(*entry.url, navType, entry.title, false);
  } else {
    tableView.deselectRow(indexPath, true);
  }
  if (entry.hasSubmenu()) {
    if (ui::NavigationController* navigation = navigationController()) {
      navigation->pushViewController(SidebarViewController::create(entry.submenu, navType, entry.title), true);
    }
  }
}

void SidebarViewController::searchBarSearchButtonClicked(ui::SearchBar& searchBar) {
  openPage(archiveSearchURL(searchBar.text(), currentDeviceKind()), NavType(kNavBarArticle), "Søk", true);
}

void SidebarViewController::handleSwipe(ui::SwipeGestureRecognizer& recognizer) {
  if (recognizer.direction() == ui::kSwipeDirectionRight) goBack();
}

void SidebarViewController::goBack() {
  if (ui::NavigationController* navigation = navigationController()) navigation->popViewController(true);
}

}  // namespace app
