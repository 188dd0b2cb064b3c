#include "display_list.hpp"

#include <algorithm>
#include <cmath>

#include "platform/ui/control.hpp"
#include "platform/ui/label.hpp"
#include "platform/ui/search_bar.hpp"
#include "platform/ui/table_view.hpp"
#include "platform/ui/web_view.hpp"

namespace gtk {

namespace {

constexpr double kBarMargin = 5;
constexpr double kToolbarMargin = 6;
constexpr double kToolbarSpacing = 10;
constexpr double kAlertWidth = 270;
constexpr double kAlertButtonHeight = 44;

ItemKind kindOf(ui::View& view) {
  if (dynamic_cast<ui::WebView*>(&view)) return ItemKind::WebView;
  if (dynamic_cast<ui::SearchBar*>(&view)) return ItemKind::SearchField;
  if (dynamic_cast<ui::NavigationBar*>(&view)) return ItemKind::NavigationBar;
  if (dynamic_cast<ui::Toolbar*>(&view)) return ItemKind::Toolbar;
  if (dynamic_cast<ui::Button*>(&view)) return ItemKind::Button;
  if (dynamic_cast<ui::Label*>(&view)) return ItemKind::Label;
  if (dynamic_cast<ui::ImageView*>(&view)) return ItemKind::Image;
  if (auto* spinner = dynamic_cast<ui::ActivityIndicatorView*>(&view)) {
    return spinner->isAnimating() ? ItemKind::Spinner : ItemKind::Plain;
  }
  return ItemKind::Plain;
}

ui::Rect centredIn(ui::Size size, ui::Rect area) {
  return ui::Rect(area.x() + (area.width() - size.width) / 2, area.y() + (area.height() - size.height) / 2,
                  size.width, size.height);
}

class Walker {
 public:
  Walker(std::vector<DisplayItem>& out, const FrameSource& frameOf) : out_(out), frameOf_(frameOf) {}

  // `placed`: where a bar puts a view that is not in the tree; otherwise the
  // view's own frame inside `contentOrigin`.
  void walk(ui::View& view, ui::Point contentOrigin, ui::Rect clip, double opacity, bool interactive,
            const ui::Rect* placed = nullptr) {
    if (view.isHidden() || view.alpha() <= 0.01) return;
    const ui::Rect frame = frameOf_(view);
    const ui::Rect rect = placed ? *placed : frame.offsetBy(contentOrigin.x, contentOrigin.y);
    const ui::Rect visible = rect.intersection(clip);
    opacity *= view.alpha();
    interactive = interactive && view.isUserInteractionEnabled();
    const ItemKind kind = kindOf(view);
    if (!visible.isNull()) {
      DisplayItem item;
      item.kind = kind;
      item.view = view.weak_from_this();
      item.rect = rect;
      item.clip = clip;
      item.opacity = opacity;
      item.interactive = interactive;
      out_.push_back(std::move(item));
    }
    // Scrolling content stays inside its view.
    const bool clips = view.layer().masksToBounds() || dynamic_cast<ui::ScrollView*>(&view);
    const ui::Rect childClip = clips ? visible : clip;
    if (childClip.isNull() && clips) return;
    const ui::Point inner{rect.x() - view.bounds().x(), rect.y() - view.bounds().y()};
    switch (kind) {
      case ItemKind::WebView:
      case ItemKind::SearchField:
        return;  // native widgets draw their own insides
      case ItemKind::NavigationBar:
        walkBarItems(static_cast<ui::NavigationBar&>(view), rect, clip, opacity, interactive);
        break;
      case ItemKind::Toolbar:
        walkToolbarItems(static_cast<ui::Toolbar&>(view), rect, clip, opacity, interactive);
        break;
      default:
        break;
    }
    if (auto* table = dynamic_cast<ui::TableView*>(&view)) {
      addRows(*table, rect, inner, visible, opacity, interactive);
      return;
    }
    for (const auto& child : std::vector(view.subviews())) walk(*child, inner, childClip, opacity, interactive);
  }

 private:
  void walkPlaced(const std::shared_ptr<ui::View>& view, ui::Rect place, ui::Rect clip, double opacity,
                  bool interactive) {
    if (view) walk(*view, {}, clip, opacity, interactive, &place);
  }

  void walkBarItems(ui::NavigationBar& bar, ui::Rect rect, ui::Rect clip, double opacity, bool interactive) {
    ui::NavigationItem* item = bar.topItem();
    if (!item) return;
    const NavigationBarLayout layout = layoutNavigationBar(*item, rect.size);
    auto place = [&](const std::shared_ptr<ui::View>& view, const std::optional<ui::Rect>& at) {
      if (at) walkPlaced(view, at->offsetBy(rect.x(), rect.y()), clip, opacity, interactive);
    };
    if (item->leftBarButtonItem()) place(item->leftBarButtonItem()->customView(), layout.left);
    if (item->rightBarButtonItem()) place(item->rightBarButtonItem()->customView(), layout.right);
    place(item->titleView(), layout.title);
  }

  void walkToolbarItems(ui::Toolbar& bar, ui::Rect rect, ui::Rect clip, double opacity, bool interactive) {
    const auto rects = layoutToolbar(bar.items(), rect.size);
    for (std::size_t i = 0; i < bar.items().size(); ++i) {
      walkPlaced(bar.items()[i]->customView(), rects[i].offsetBy(rect.x(), rect.y()), clip, opacity, interactive);
    }
  }

  void addRows(ui::TableView& table, ui::Rect rect, ui::Point inner, ui::Rect visible, double opacity,
               bool interactive) {
    if (visible.isNull()) return;
    auto delegate = table.delegate();
    const int rows = table.numberOfRows(0);
    double y = inner.y;
    for (int row = 0; row < rows; ++row) {
      const double height = delegate ? delegate->heightForRow(table, {0, row}) : 44;
      const ui::Rect rowRect(rect.x(), y, rect.width(), height);
      y += height;
      if (rowRect.intersection(visible).isNull()) continue;
      DisplayItem item;
      item.kind = ItemKind::TableRow;
      item.view = table.weak_from_this();
      item.rect = rowRect;
      item.clip = visible;
      item.opacity = opacity;
      item.interactive = interactive;
      item.row = row;
      out_.push_back(std::move(item));
    }
  }

  std::vector<DisplayItem>& out_;
  const FrameSource& frameOf_;
};

void addAlert(std::vector<DisplayItem>& out, const std::shared_ptr<ui::AlertView>& alert, ui::Size canvas) {
  const ui::Rect whole(0, 0, canvas.width, canvas.height);
  auto part = [&](ItemKind kind, ui::Rect rect, int row) {
    DisplayItem item;
    item.kind = kind;
    item.alert = alert;
    item.rect = rect;
    item.clip = whole;
    item.row = row;
    out.push_back(std::move(item));
  };
  const AlertLayout layout = layoutAlert(*alert, canvas);
  part(ItemKind::AlertDim, whole, -1);
  part(ItemKind::AlertBox, layout.box, -1);
  for (std::size_t i = 0; i < layout.buttons.size(); ++i) part(ItemKind::AlertButton, layout.buttons[i], int(i));
}

}  // namespace

std::vector<DisplayItem> buildDisplayList(ui::View* root, ui::Size canvas, const FrameSource& frameOf) {
  std::vector<DisplayItem> items;
  const ui::Rect whole(0, 0, canvas.width, canvas.height);
  if (root) {
    Walker walker(items, frameOf);
    // The root fills the canvas wherever its frame says it is.
    const ui::Rect frame = frameOf(*root);
    walker.walk(*root, {-frame.x(), -frame.y()}, whole, 1, true);
  }
  const auto alerts = ui::AlertView::visibleAlerts();
  if (!alerts.empty()) addAlert(items, alerts.back(), canvas);
  return items;
}

const DisplayItem* hitTest(const std::vector<DisplayItem>& items, ui::Point point) {
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if (!it->interactive) continue;
    if (it->rect.contains(point) && it->clip.contains(point)) return &*it;
  }
  return nullptr;
}

NavigationBarLayout layoutNavigationBar(const ui::NavigationItem& item, ui::Size barSize) {
  NavigationBarLayout layout;
  const ui::Rect bar(0, 0, barSize.width, barSize.height);
  double leftEdge = 0;
  double rightEdge = barSize.width;
  if (item.leftBarButtonItem() && item.leftBarButtonItem()->customView()) {
    const ui::Size size = item.leftBarButtonItem()->customView()->frame().size;
    layout.left = ui::Rect(kBarMargin, (barSize.height - size.height) / 2, size.width, size.height);
    leftEdge = layout.left->maxX();
  }
  if (item.rightBarButtonItem() && item.rightBarButtonItem()->customView()) {
    const ui::Size size = item.rightBarButtonItem()->customView()->frame().size;
    layout.right = ui::Rect(barSize.width - kBarMargin - size.width, (barSize.height - size.height) / 2, size.width,
                            size.height);
    rightEdge = layout.right->minX();
  }
  if (item.titleView()) {
    ui::Size size = item.titleView()->frame().size;
    // Centred on the bar, kept clear of the side items.
    const double room = std::max(0.0, rightEdge - leftEdge - (leftEdge > 0 ? kBarMargin : 0) -
                                          (rightEdge < barSize.width ? kBarMargin : 0));
    size.width = std::min(size.width, room);
    size.height = std::min(size.height, barSize.height);
    ui::Rect title = centredIn(size, bar);
    const double minX = leftEdge + (leftEdge > 0 ? kBarMargin : 0);
    const double maxX = rightEdge - (rightEdge < barSize.width ? kBarMargin : 0);
    if (title.minX() < minX) title = title.offsetBy(minX - title.minX(), 0);
    if (title.maxX() > maxX) title = title.offsetBy(maxX - title.maxX(), 0);
    layout.title = title;
  }
  return layout;
}

std::vector<ui::Rect> layoutToolbar(const std::vector<std::shared_ptr<ui::BarButtonItem>>& items, ui::Size barSize) {
  std::vector<ui::Rect> rects(items.size());
  double fixed = 0;
  int flexible = 0;
  for (const auto& item : items) {
    if (item->isFlexibleSpace()) {
      ++flexible;
    } else {
      fixed += item->customView() ? item->customView()->frame().width() : std::max(item->width(), 44.0);
    }
  }
  const double gaps = items.empty() ? 0 : kToolbarSpacing * double(items.size() - 1);
  const double spare = std::max(0.0, barSize.width - 2 * kToolbarMargin - fixed - gaps);
  double x = kToolbarMargin;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto& item = items[i];
    double width = 0;
    double height = barSize.height;
    if (item->isFlexibleSpace()) {
      width = spare / flexible;
    } else if (item->customView()) {
      width = item->customView()->frame().width();
      height = std::min(barSize.height, item->customView()->frame().height());
    } else {
      width = std::max(item->width(), 44.0);
    }
    rects[i] = ui::Rect(x, (barSize.height - height) / 2, width, height);
    x += width + kToolbarSpacing;
  }
  return rects;
}

AlertLayout layoutAlert(const ui::AlertView& alert, ui::Size canvas) {
  AlertLayout layout;
  const double width = std::min(kAlertWidth, canvas.width - 20);
  // About 34 characters per line of message text.
  const double lines = std::max(1.0, std::ceil(double(alert.message().size()) / 34.0));
  const double titleHeight = 34;
  const double messageHeight = lines * 20 + 12;
  const int count = alert.numberOfButtons();
  const bool sideBySide = count <= 2;
  const double buttonsHeight = sideBySide ? kAlertButtonHeight : kAlertButtonHeight * count;
  const double height = titleHeight + messageHeight + buttonsHeight;
  layout.box = ui::Rect((canvas.width - width) / 2, (canvas.height - height) / 2, width, height);
  layout.title = ui::Rect(layout.box.x() + 12, layout.box.y() + 10, width - 24, titleHeight - 10);
  layout.message = ui::Rect(layout.box.x() + 12, layout.title.maxY(), width - 24, messageHeight);
  const double top = layout.message.maxY();
  for (int i = 0; i < count; ++i) {
    if (sideBySide) {
      const double w = width / count;
      layout.buttons.emplace_back(layout.box.x() + w * i, top, w, kAlertButtonHeight);
    } else {
      layout.buttons.emplace_back(layout.box.x(), top + kAlertButtonHeight * i, width, kAlertButtonHeight);
    }
  }
  return layout;
}

std::vector<ui::View*> viewChain(ui::View* view) {
  std::vector<ui::View*> chain;
  for (ui::View* v = view; v; v = v->superview()) chain.push_back(v);
  return chain;
}

ButtonLayout layoutButton(const ui::Button& button, const ui::Rect& rect, ui::Size imageSize, ui::Size titleSize) {
  const double total = imageSize.width + titleSize.width;
  double x = rect.x() + (rect.width() - total) / 2;
  if (button.contentHorizontalAlignment() == ui::ContentHorizontalAlignment::Left) x = rect.x();
  if (button.contentHorizontalAlignment() == ui::ContentHorizontalAlignment::Right) x = rect.maxX() - total;
  const ui::EdgeInsets ii = button.imageEdgeInsets();
  const ui::EdgeInsets ti = button.titleEdgeInsets();
  ButtonLayout layout;
  if (imageSize.width > 0 && imageSize.height > 0) {
    layout.image = ui::Rect(x + (ii.left - ii.right) / 2,
                            rect.y() + (rect.height() - imageSize.height) / 2 + (ii.top - ii.bottom) / 2,
                            imageSize.width, imageSize.height);
  }
  if (titleSize.width > 0) {
    ui::Rect title(x + imageSize.width + (ti.left - ti.right) / 2, rect.y() + (ti.top - ti.bottom) / 2, titleSize.width,
                   rect.height());
    if (layout.image && title.x() < layout.image->maxX() && layout.image->x() < title.maxX()) {
      // Beside the image, on the side the insets meant it to be.
      constexpr double kGap = 2;
      const bool leftOfImage = title.x() + title.width() / 2 < layout.image->x() + layout.image->width() / 2;
      title.origin.x = leftOfImage ? layout.image->x() - kGap - title.width() : layout.image->maxX() + kGap;
    }
    layout.title = title;
  }
  return layout;
}

}  // namespace gtk
