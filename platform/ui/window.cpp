#include "platform/ui/window.hpp"

#include "platform/device.hpp"
#include "platform/ui/application.hpp"
#include "platform/ui/toolkit.hpp"

namespace platform::ui {

Screen& Screen::main() {
  static Screen screen;
  return screen;
}

Rect Screen::bounds() const {
  if (bounds_) return *bounds_;
  const Device device = Device::current();
  if (device.screenWidth > 0 && device.screenHeight > 0) return Rect(0, 0, device.screenWidth, device.screenHeight);
  return idiom_ == UserInterfaceIdiom::Pad ? Rect(0, 0, 768, 1024) : Rect(0, 0, 320, 568);
}

void Screen::setBounds(Rect bounds) { bounds_ = bounds; }

void Screen::reset() {
  bounds_.reset();
  scale_ = 1;
  idiom_ = UserInterfaceIdiom::Phone;
}

Window::Window(Rect frame) : View(frame) { setHidden(true); }

Window::~Window() {
  if (Application::shared().keyWindow() == this) Application::shared().setKeyWindow(nullptr);
}

std::shared_ptr<Window> Window::create(Rect frame) { return std::make_shared<Window>(frame); }

void Window::setRootViewController(std::shared_ptr<ViewController> controller) {
  if (controller == root_) return;
  if (root_ && root_->isViewLoaded() && root_->view()->superview() == this) root_->view()->removeFromSuperview();
  root_ = std::move(controller);
  if (!root_) return;
  auto rootView = root_->view();
  rootView->setFrame(bounds());
  addSubview(rootView);
}

void Window::makeKeyAndVisible() {
  Application::shared().setKeyWindow(this);
  setHidden(false);
  toolkit().windowDidBecomeVisible(*this);
}

bool Window::isKeyWindow() const { return Application::shared().keyWindow() == this; }

void Window::layoutSubviews() {
  if (root_ && root_->isViewLoaded()) root_->view()->setFrame(bounds());
}

}  // namespace platform::ui
