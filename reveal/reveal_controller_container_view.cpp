#include "reveal/reveal_controller_container_view.hpp"

namespace reveal {

using platform::ui::Color;
using platform::ui::LayerAnimation;
using platform::ui::MediaTimingFunction;
using platform::ui::Rect;
using platform::ui::Size;

namespace {
Rect boundsOf(const std::shared_ptr<platform::ui::ViewController>& controller) {
  return controller ? controller->view()->bounds() : Rect();
}
}  // namespace

RevealControllerContainerView::RevealControllerContainerView(
    const std::shared_ptr<platform::ui::ViewController>& controller, bool shadow)
    : View(boundsOf(controller)) {
  setViewController(controller);
  if (shadow) setupShadow();
  shadow_ = shadow;
}

std::shared_ptr<RevealControllerContainerView> RevealControllerContainerView::create(
    const std::shared_ptr<platform::ui::ViewController>& controller, bool shadow) {
  return std::make_shared<RevealControllerContainerView>(controller, shadow);
}

void RevealControllerContainerView::setViewController(const std::shared_ptr<platform::ui::ViewController>& controller) {
  auto old = controller_.lock();
  if (old == controller) return;
  if (old && old->isViewLoaded() && old->view()->superview() == this) old->view()->removeFromSuperview();
  controller_ = controller;
  if (!controller) return;
  auto hosted = controller->view();
  hosted->setFrame(hosted->bounds());
  addSubview(hosted);
}

void RevealControllerContainerView::layoutSubviews() {
  auto controller = controller_.lock();
  if (controller && controller->isViewLoaded() && controller->view()->superview() == this) {
    controller->view()->setFrame(bounds());
  }
}

void RevealControllerContainerView::setupShadow() {
  auto& l = layer();
  l.setMasksToBounds(false);
  l.setShadowColor(Color::blackColor());
  l.setShadowOffset(Size{0, 0});
  l.setShadowOpacity(0.5);
  l.setShadowRadius(2.5);
  l.setShadowPath(bounds());
}

void RevealControllerContainerView::refreshShadowWithAnimationDuration(double seconds) {
  const auto oldPath = layer().shadowPath();
  layer().setShadowPath(bounds());
  if (!oldPath) return;
  auto animation = LayerAnimation::basic("shadowPath", seconds, MediaTimingFunction::EaseInEaseOut);
  animation.fromPath = oldPath;
  layer().addAnimation(std::move(animation), "transition");
}

void RevealControllerContainerView::enableUserInteractionForContainedView() {
  auto controller = controller_.lock();
  if (controller && controller->isViewLoaded()) controller->view()->setUserInteractionEnabled(true);
}

void RevealControllerContainerView::disableUserInteractionForContainedView() {
  auto controller = controller_.lock();
  if (controller && controller->isViewLoaded()) controller->view()->setUserInteractionEnabled(false);
}

}  // namespace reveal
