#pragma once
// Bars and their items: bar button items, navigation items, the navigation
// bar and the toolbar.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/view.hpp"

namespace platform::ui {

enum class BarButtonSystemItem { FlexibleSpace, FixedSpace, Action, Refresh, Done, Cancel };

// One item of a navigation bar or toolbar: a custom view, a titled button or
// a system item (a flexible space stretches to fill the toolbar).
class BarButtonItem {
 public:
  using Action = std::function<void()>;

  static std::shared_ptr<BarButtonItem> withCustomView(std::shared_ptr<View> view);
  static std::shared_ptr<BarButtonItem> withTitle(std::string title, Action action);
  static std::shared_ptr<BarButtonItem> withSystemItem(BarButtonSystemItem item, Action action = {});
  static std::shared_ptr<BarButtonItem> flexibleSpace() { return withSystemItem(BarButtonSystemItem::FlexibleSpace); }

  const std::shared_ptr<View>& customView() const { return customView_; }
  const std::string& title() const { return title_; }
  std::optional<BarButtonSystemItem> systemItem() const { return systemItem_; }
  bool isFlexibleSpace() const { return systemItem_ == BarButtonSystemItem::FlexibleSpace; }
  double width() const { return width_; }
  void setWidth(double width) { width_ = width; }

  // A user's tap on a titled or system item; no effect on a custom view item
  // (its view takes the taps) or an item without an action.
  void tap();

 private:
  std::shared_ptr<View> customView_;
  std::string title_;
  std::optional<BarButtonSystemItem> systemItem_;
  double width_ = 0;
  Action action_;
};

// What the navigation bar shows while a controller is on top: title or
// title view, left and right items.
class NavigationItem {
 public:
  const std::string& title() const { return title_; }
  void setTitle(std::string title);
  // Replaces the title text when set.
  const std::shared_ptr<View>& titleView() const { return titleView_; }
  void setTitleView(std::shared_ptr<View> view);
  const std::shared_ptr<BarButtonItem>& leftBarButtonItem() const { return left_; }
  void setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated = false);
  const std::shared_ptr<BarButtonItem>& rightBarButtonItem() const { return right_; }
  void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item, bool animated = false);
  bool hidesBackButton() const { return hidesBackButton_; }
  void setHidesBackButton(bool hides) { hidesBackButton_ = hides; }

 private:
  std::string title_;
  std::shared_ptr<View> titleView_;
  std::shared_ptr<BarButtonItem> left_;
  std::shared_ptr<BarButtonItem> right_;
  bool hidesBackButton_ = false;
};

enum class BarMetrics { Default, LandscapePhone };

inline constexpr double kNavigationBarHeight = 44;
inline constexpr double kToolbarHeight = 44;

// The bar at the top of a navigation controller; shows the top controller's item.
class NavigationBar : public View {
 public:
  explicit NavigationBar(Rect frame = {});
  static std::shared_ptr<NavigationBar> create(Rect frame = {});

  // The background image for the metrics; the null image when none is set.
  Image backgroundImage(BarMetrics metrics) const;
  void setBackgroundImage(Image image, BarMetrics metrics);

  // The item shown now (the top controller's), or null. Set by the
  // navigation controller; not owning.
  NavigationItem* topItem() const { return topItem_; }
  void setTopItem(NavigationItem* item);

  Size sizeThatFits(Size size) const override { return {size.width, kNavigationBarHeight}; }

 private:
  std::map<BarMetrics, Image> backgrounds_;
  NavigationItem* topItem_ = nullptr;
};

class Toolbar : public View {
 public:
  explicit Toolbar(Rect frame = {});
  static std::shared_ptr<Toolbar> create(Rect frame = {});

  const std::vector<std::shared_ptr<BarButtonItem>>& items() const { return items_; }
  void setItems(std::vector<std::shared_ptr<BarButtonItem>> items, bool animated = false);

  Size sizeThatFits(Size size) const override { return {size.width, kToolbarHeight}; }

 private:
  std::vector<std::shared_ptr<BarButtonItem>> items_;
};

}  // namespace platform::ui
