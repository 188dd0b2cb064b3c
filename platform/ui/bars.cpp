#include "platform/ui/bars.hpp"

#include "platform/ui/toolkit.hpp"

namespace platform::ui {

std::shared_ptr<BarButtonItem> BarButtonItem::withCustomView(std::shared_ptr<View> view) {
  auto item = std::make_shared<BarButtonItem>();
  item->customView_ = std::move(view);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withTitle(std::string title, Action action) {
  auto item = std::make_shared<BarButtonItem>();
  item->title_ = std::move(title);
  item->action_ = std::move(action);
  return item;
}

std::shared_ptr<BarButtonItem> BarButtonItem::withSystemItem(BarButtonSystemItem system, Action action) {
  auto item = std::make_shared<BarButtonItem>();
  item->systemItem_ = system;
  item->action_ = std::move(action);
  return item;
}

void BarButtonItem::tap() {
  if (!customView_ && action_) action_();
}

void NavigationItem::setTitle(std::string title) {
  title_ = std::move(title);
  toolkit().navigationItemDidChange(*this);
}

void NavigationItem::setTitleView(std::shared_ptr<View> view) {
  titleView_ = std::move(view);
  toolkit().navigationItemDidChange(*this);
}

void NavigationItem::setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item, bool) {
  left_ = std::move(item);
  toolkit().navigationItemDidChange(*this);
}

void NavigationItem::setRightBarButtonItem(std::shared_ptr<BarButtonItem> item, bool) {
  right_ = std::move(item);
  toolkit().navigationItemDidChange(*this);
}

NavigationBar::NavigationBar(Rect frame) : View(frame) {}

std::shared_ptr<NavigationBar> NavigationBar::create(Rect frame) { return std::make_shared<NavigationBar>(frame); }

Image NavigationBar::backgroundImage(BarMetrics metrics) const {
  auto it = backgrounds_.find(metrics);
  return it == backgrounds_.end() ? Image() : it->second;
}

void NavigationBar::setBackgroundImage(Image image, BarMetrics metrics) {
  backgrounds_[metrics] = std::move(image);
  changed();
}

void NavigationBar::setTopItem(NavigationItem* item) {
  topItem_ = item;
  changed();
}

Toolbar::Toolbar(Rect frame) : View(frame) {}

std::shared_ptr<Toolbar> Toolbar::create(Rect frame) { return std::make_shared<Toolbar>(frame); }

void Toolbar::setItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool) {
  items_ = std::move(items);
  changed();
}

}  // namespace platform::ui
