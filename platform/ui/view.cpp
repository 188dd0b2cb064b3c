#include "platform/ui/view.hpp"

#include <algorithm>

#include "platform/ui/gesture_recognizer.hpp"
#include "platform/ui/toolkit.hpp"
#include "platform/ui/view_controller.hpp"
#include "platform/ui/window.hpp"

namespace platform::ui {

namespace {

// The share of a size change that one flexible part takes: in proportion
// to the parts' current sizes, equally when they are all zero.
double shareOf(double part, double totalOfFlexible, int flexibleCount, double change) {
  if (totalOfFlexible > 0) return change * part / totalOfFlexible;
  return change / flexibleCount;
}

// Moves one axis of `frame` (origin o, size s inside a parent of size p)
// for a parent size change `change`.
void resizeAxis(double& o, double& s, double oldParent, double change, bool flexLead, bool flexSize,
                bool flexTrail) {
  const int count = int(flexLead) + int(flexSize) + int(flexTrail);
  if (count == 0 || change == 0) return;
  const double trail = oldParent - o - s;
  double total = 0;
  if (flexLead) total += o;
  if (flexSize) total += s;
  if (flexTrail) total += trail;
  const double leadChange = flexLead ? shareOf(o, total, count, change) : 0;
  const double sizeChange = flexSize ? shareOf(s, total, count, change) : 0;
  o += leadChange;
  s += sizeChange;
}

// Sends the appearance events a controller's root view implies when it
// enters or leaves a shown window.
void forwardAppearance(ViewController* controller, bool appearing) {
  if (!controller) return;
  const auto state = controller->appearanceState();
  if (appearing && (state == AppearanceState::Appeared || state == AppearanceState::Appearing)) return;
  if (!appearing && (state == AppearanceState::Disappeared || state == AppearanceState::Disappearing)) return;
  controller->beginAppearanceTransition(appearing, false);
  controller->endAppearanceTransition();
}

}  // namespace

View::View(Rect frame) : frame_(frame) {}

View::~View() {
  for (auto& child : subviews_) child->superview_ = nullptr;
  for (auto& recognizer : recognizers_) recognizer->view_ = nullptr;
}

std::shared_ptr<View> View::create(Rect frame) { return std::make_shared<View>(frame); }

void View::animate(double duration, double delay, unsigned options, std::function<void()> animations,
                   std::function<void(bool finished)> completion) {
  toolkit().animate(AnimationRequest{duration, delay, options}, std::move(animations), std::move(completion));
}

void View::changed() {
  // Views still under construction (not yet owned) are not announced.
  if (!weak_from_this().expired()) toolkit().viewDidChange(*this);
}

void View::setFrame(Rect frame) {
  const Size oldSize = frame_.size;
  frame_ = frame;
  if (oldSize != frame.size) {
    resizeSubviews(oldSize);
    layoutSubviews();
  }
  changed();
}

void View::setBoundsOrigin(Point origin) {
  boundsOrigin_ = origin;
  changed();
}

void View::resizeSubviews(Size oldSize) {
  const double dw = frame_.size.width - oldSize.width;
  const double dh = frame_.size.height - oldSize.height;
  for (const auto& child : std::vector(subviews_)) {
    const unsigned mask = child->autoresizingMask_;
    if (mask == kAutoresizingNone) continue;
    Rect f = child->frame_;
    resizeAxis(f.origin.x, f.size.width, oldSize.width, dw, mask & kAutoresizingFlexibleLeftMargin,
               mask & kAutoresizingFlexibleWidth, mask & kAutoresizingFlexibleRightMargin);
    resizeAxis(f.origin.y, f.size.height, oldSize.height, dh, mask & kAutoresizingFlexibleTopMargin,
               mask & kAutoresizingFlexibleHeight, mask & kAutoresizingFlexibleBottomMargin);
    child->setFrame(f);
  }
}

void View::attach(std::shared_ptr<View> view, std::size_t index) {
  if (!view || view.get() == this || isDescendantOf(*view)) return;
  const bool wasVisible = view->isInVisibleWindow();
  if (view->superview_) {
    auto& siblings = view->superview_->subviews_;
    siblings.erase(std::find(siblings.begin(), siblings.end(), view));
  }
  view->superview_ = this;
  subviews_.insert(subviews_.begin() + std::min(index, subviews_.size()), view);
  view->propagateVisibility(wasVisible);
  changed();
}

void View::addSubview(std::shared_ptr<View> view) { attach(std::move(view), subviews_.size()); }

void View::insertSubviewBelow(std::shared_ptr<View> view, const View* sibling) {
  auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& v) { return v.get() == sibling; });
  if (it == subviews_.end()) return addSubview(std::move(view));
  std::size_t index = it - subviews_.begin();
  // Moving a view that now lies below the sibling shifts the sibling down by one.
  auto self = std::find(subviews_.begin(), subviews_.end(), view);
  if (self != subviews_.end() && self < it) --index;
  attach(std::move(view), index);
}

void View::insertSubviewAbove(std::shared_ptr<View> view, const View* sibling) {
  auto it = std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& v) { return v.get() == sibling; });
  if (it == subviews_.end()) return addSubview(std::move(view));
  std::size_t index = it - subviews_.begin() + 1;
  auto self = std::find(subviews_.begin(), subviews_.end(), view);
  if (self != subviews_.end() && self < it) --index;
  attach(std::move(view), index);
}

void View::removeFromSuperview() {
  View* parent = superview_;
  if (!parent) return;
  const bool wasVisible = isInVisibleWindow();
  auto& siblings = parent->subviews_;
  auto it = std::find_if(siblings.begin(), siblings.end(), [&](const auto& v) { return v.get() == this; });
  auto keepAlive = *it;
  siblings.erase(it);
  superview_ = nullptr;
  propagateVisibility(wasVisible);
  parent->changed();
}

bool View::isDescendantOf(const View& ancestor) const {
  for (const View* v = this; v; v = v->superview_) {
    if (v == &ancestor) return true;
  }
  return false;
}

Window* View::window() const {
  const View* root = this;
  while (root->superview_) root = root->superview_;
  return dynamic_cast<Window*>(const_cast<View*>(root));
}

bool View::isInVisibleWindow() const {
  const Window* w = window();
  return w && !w->isHidden();
}

void View::propagateVisibility(bool wasVisible) {
  const bool visible = isInVisibleWindow();
  if (visible == wasVisible) return;
  auto keepAlive = weak_from_this().lock();
  forwardAppearance(viewController_, visible);
  didMoveToWindow();
  // Appearance handlers may change the tree; walk a snapshot and skip
  // views that left this one meanwhile.
  for (const auto& child : std::vector(subviews_)) {
    if (child->superview_ == this) child->propagateVisibility(wasVisible);
  }
}

void View::setHidden(bool hidden) {
  if (hidden_ == hidden) return;
  const bool isWindowRoot = superview_ == nullptr && dynamic_cast<Window*>(this);
  const bool wasVisible = isWindowRoot && isInVisibleWindow();
  hidden_ = hidden;
  // Only a window's own visibility takes its tree in or out of the screen.
  if (isWindowRoot) propagateVisibility(wasVisible);
  changed();
}

void View::setAlpha(double alpha) {
  alpha_ = alpha;
  changed();
}

void View::setUserInteractionEnabled(bool enabled) {
  userInteractionEnabled_ = enabled;
  changed();
}

void View::setBackgroundColor(Color color) {
  backgroundColor_ = color;
  changed();
}

void View::addGestureRecognizer(std::shared_ptr<GestureRecognizer> recognizer) {
  if (!recognizer || recognizer->view_ == this) return;
  if (recognizer->view_) recognizer->view_->removeGestureRecognizer(recognizer.get());
  recognizer->view_ = this;
  recognizers_.push_back(std::move(recognizer));
}

void View::removeGestureRecognizer(const GestureRecognizer* recognizer) {
  auto it = std::find_if(recognizers_.begin(), recognizers_.end(),
                         [&](const auto& r) { return r.get() == recognizer; });
  if (it == recognizers_.end()) return;
  (*it)->view_ = nullptr;
  recognizers_.erase(it);
}

bool View::hasGestureRecognizer(const GestureRecognizer* recognizer) const {
  return std::any_of(recognizers_.begin(), recognizers_.end(),
                     [&](const auto& r) { return r.get() == recognizer; });
}

Size View::sizeThatFits(Size) const { return frame_.size; }

void View::sizeToFit() {
  const Size fitting = sizeThatFits(bounds().size);
  setFrame(Rect(frame_.origin, fitting));
}

Point View::originInRoot() const {
  Point p{frame_.origin.x - boundsOrigin_.x, frame_.origin.y - boundsOrigin_.y};
  for (const View* v = superview_; v; v = v->superview_) {
    p.x += v->frame_.origin.x - v->boundsOrigin_.x;
    p.y += v->frame_.origin.y - v->boundsOrigin_.y;
  }
  return p;
}

Point View::convertPointToView(Point point, const View* other) const {
  const Point mine = originInRoot();
  Point inRoot{point.x + mine.x, point.y + mine.y};
  if (!other) return inRoot;
  const Point theirs = other->originInRoot();
  return {inRoot.x - theirs.x, inRoot.y - theirs.y};
}

Point View::convertPointFromView(Point point, const View* other) const {
  const Point theirs = other ? other->originInRoot() : Point{};
  const Point mine = originInRoot();
  return {point.x + theirs.x - mine.x, point.y + theirs.y - mine.y};
}

Rect View::convertRectToView(Rect rect, const View* other) const {
  return Rect(convertPointToView(rect.origin, other), rect.size);
}

View* View::hitTest(Point point) {
  if (hidden_ || !userInteractionEnabled_ || alpha_ < 0.01 || !bounds().contains(point)) return nullptr;
  for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
    const auto& child = *it;
    const Point inChild{point.x - child->frame_.origin.x + child->boundsOrigin_.x,
                        point.y - child->frame_.origin.y + child->boundsOrigin_.y};
    if (View* hit = child->hitTest(inChild)) return hit;
  }
  return this;
}

}  // namespace platform::ui
