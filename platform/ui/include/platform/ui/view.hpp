#pragma once
// The view tree of the UI model. Views are owned by shared pointers: a
// superview owns its subviews, a view knows its superview without owning it.
// All of it is for the main thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/geometry.hpp"
#include "platform/ui/graphics.hpp"
#include "platform/ui/layer.hpp"

namespace platform::ui {

class GestureRecognizer;
class ViewController;
class Window;

// Which edges and dimensions follow the superview when its size changes.
enum AutoresizingMask : unsigned {
  kAutoresizingNone = 0,
  kAutoresizingFlexibleLeftMargin = 1 << 0,
  kAutoresizingFlexibleWidth = 1 << 1,
  kAutoresizingFlexibleRightMargin = 1 << 2,
  kAutoresizingFlexibleTopMargin = 1 << 3,
  kAutoresizingFlexibleHeight = 1 << 4,
  kAutoresizingFlexibleBottomMargin = 1 << 5,
};

// Option bits of the view-animation primitive.
enum AnimationOptions : unsigned {
  kAnimationLayoutSubviews = 1 << 0,
  kAnimationAllowUserInteraction = 1 << 1,
  kAnimationBeginFromCurrentState = 1 << 2,
  kAnimationRepeat = 1 << 3,
  kAnimationAutoreverse = 1 << 4,
  kAnimationCurveEaseInOut = 0 << 16,
  kAnimationCurveEaseIn = 1 << 16,
  kAnimationCurveEaseOut = 2 << 16,
  kAnimationCurveLinear = 3 << 16,
};

class View : public std::enable_shared_from_this<View> {
 public:
  explicit View(Rect frame = {});
  virtual ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  static std::shared_ptr<View> create(Rect frame = {});

  // The view-animation primitive. Runs `animations` (which set the final
  // values) and calls `completion` with finished = true on the main queue
  // once the animation has run for `delay` + `duration` seconds — never
  // before this call returns. The toolkit decides how the change is drawn;
  // the headless one applies it at once and only delays the completion.
  static void animate(double duration, double delay, unsigned options, std::function<void()> animations,
                      std::function<void(bool finished)> completion);

  // Position in the superview's coordinates. Setting a new size lays out the
  // subviews (autoresizing masks, then layoutSubviews).
  Rect frame() const { return frame_; }
  virtual void setFrame(Rect frame);
  // Own coordinates: origin (0, 0) unless scrolled, size of the frame.
  Rect bounds() const { return Rect(boundsOrigin_, frame_.size); }
  void setBoundsOrigin(Point origin);

  // The superview, or null. Not owning.
  View* superview() const { return superview_; }
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
  // Adds `view` on top (moving it from its old superview).
  void addSubview(std::shared_ptr<View> view);
  // Adds `view` directly below / above `sibling`; on top when `sibling` is not a subview.
  void insertSubviewBelow(std::shared_ptr<View> view, const View* sibling);
  void insertSubviewAbove(std::shared_ptr<View> view, const View* sibling);
  // Detaches from the superview; no effect without one.
  void removeFromSuperview();
  bool isDescendantOf(const View& ancestor) const;

  // The window this view is in, or null.
  Window* window() const;
  // True when the view is in a window that is shown.
  bool isInVisibleWindow() const;

  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden);
  double alpha() const { return alpha_; }
  void setAlpha(double alpha);
  bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
  void setUserInteractionEnabled(bool enabled);
  Color backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(Color color);
  unsigned autoresizingMask() const { return autoresizingMask_; }
  void setAutoresizingMask(unsigned mask) { autoresizingMask_ = mask; }
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  // What a screen reader calls this view; empty leaves it to the view's own text.
  const std::string& accessibilityLabel() const { return accessibilityLabel_; }
  void setAccessibilityLabel(std::string label) { accessibilityLabel_ = std::move(label); }

  Layer& layer() { return layer_; }
  const Layer& layer() const { return layer_; }

  // Recognizers attached to this view (owned by it).
  void addGestureRecognizer(std::shared_ptr<GestureRecognizer> recognizer);
  // Detaches `recognizer`; no effect when it is not attached here.
  void removeGestureRecognizer(const GestureRecognizer* recognizer);
  const std::vector<std::shared_ptr<GestureRecognizer>>& gestureRecognizers() const { return recognizers_; }
  bool hasGestureRecognizer(const GestureRecognizer* recognizer) const;

  // Lays out the subviews. The base does nothing.
  virtual void layoutSubviews() {}
  // The size the view would like within `size`. The base answers its current size.
  virtual Size sizeThatFits(Size size) const;
  // Resizes the frame (keeping the origin) to sizeThatFits(bounds size).
  void sizeToFit();

  // Converts between this view's coordinates and another view's in the same
  // window or tree; `other` null means the root of this view's tree.
  Point convertPointToView(Point point, const View* other) const;
  Point convertPointFromView(Point point, const View* other) const;
  Rect convertRectToView(Rect rect, const View* other) const;

  // The deepest visible, interactive view that contains `point` (in this
  // view's coordinates), or null.
  View* hitTest(Point point);

  // The controller whose root view this is, or null. Not owning.
  ViewController* viewController() const { return viewController_; }

 protected:
  // Tells the toolkit that something it draws changed.
  void changed();
  // Called after the view entered or left a shown window.
  virtual void didMoveToWindow() {}

 private:
  friend class ViewController;
  friend class Window;
  void attach(std::shared_ptr<View> view, std::size_t index);
  void resizeSubviews(Size oldSize);
  Point originInRoot() const;
  void propagateVisibility(bool wasVisible);

  Rect frame_;
  Point boundsOrigin_;
  View* superview_ = nullptr;
  std::vector<std::shared_ptr<View>> subviews_;
  std::vector<std::shared_ptr<GestureRecognizer>> recognizers_;
  Layer layer_{*this};
  bool hidden_ = false;
  double alpha_ = 1;
  bool userInteractionEnabled_ = true;
  Color backgroundColor_ = Color::clearColor();
  unsigned autoresizingMask_ = kAutoresizingNone;
  int tag_ = 0;
  std::string accessibilityLabel_;
  ViewController* viewController_ = nullptr;
};

}  // namespace platform::ui
