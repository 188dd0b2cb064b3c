#pragma once
// A view whose content scrolls, with its delegate and optional refresh control.

#include <memory>

#include "platform/ui/control.hpp"
#include "platform/ui/view.hpp"

namespace platform::ui {

class ScrollView;

// Callbacks on the main thread. Delegates are not owned.
class ScrollViewDelegate {
 public:
  virtual ~ScrollViewDelegate() = default;
  virtual void scrollViewWillBeginDragging(ScrollView& scrollView) {}
  virtual void scrollViewDidScroll(ScrollView& scrollView) {}
};

inline constexpr double kScrollViewDecelerationRateNormal = 0.998;
inline constexpr double kScrollViewDecelerationRateFast = 0.99;

class ScrollView : public View {
 public:
  using View::View;
  static std::shared_ptr<ScrollView> create(Rect frame = {});

  Point contentOffset() const { return bounds().origin; }
  // Scrolls (the headless model jumps; a real view is told through the
  // toolkit) and tells the delegate.
  void setContentOffset(Point offset, bool animated);
  // The real view behind this one scrolled (the person, the page): the model
  // follows and tells the delegate, without asking the real view to scroll.
  void contentDidScroll(Point offset);
  Size contentSize() const { return contentSize_; }
  void setContentSize(Size size);
  double decelerationRate() const { return decelerationRate_; }
  void setDecelerationRate(double rate) { decelerationRate_ = rate; }

  std::shared_ptr<ScrollViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<ScrollViewDelegate> delegate) { delegate_ = std::move(delegate); }

  // The first refresh control among the subviews, or null.
  std::shared_ptr<RefreshControl> refreshControl() const;

  // A user's drag by (dx, dy) points of content: will-begin-dragging, then
  // the new offset and did-scroll.
  void drag(double dx, double dy);

  // Whether the content was last scrolled with animation (for inspection).
  bool lastScrollAnimated() const { return lastScrollAnimated_; }

 private:
  Size contentSize_;
  double decelerationRate_ = kScrollViewDecelerationRateNormal;
  std::weak_ptr<ScrollViewDelegate> delegate_;
  bool lastScrollAnimated_ = false;
};

}  // namespace platform::ui
