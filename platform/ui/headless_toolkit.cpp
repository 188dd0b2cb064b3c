#include "platform/ui/headless_toolkit.hpp"

#include <chrono>

#include "platform/executor.hpp"

namespace platform::ui {

HeadlessToolkit& HeadlessToolkit::shared() {
  static HeadlessToolkit instance;
  return instance;
}

std::shared_ptr<WebView> HeadlessToolkit::makeWebView(Rect frame) { return std::make_shared<HeadlessWebView>(frame); }

void HeadlessToolkit::animate(const AnimationRequest& request, std::function<void()> animations,
                              std::function<void(bool finished)> completion) {
  ++animationCount_;
  ++animationsInFlight_;
  if (animations) animations();
  // Counted out when the finish is gone: after its completion (so one that
  // starts the next animation never leaves a moment with none in flight), or
  // when a queue drops it unrun.
  std::shared_ptr<void> inFlight(nullptr, [this](void*) { --animationsInFlight_; });
  auto finish = [inFlight = std::move(inFlight), completion = std::move(completion)] {
    if (completion) completion(true);
  };
  const double seconds = std::max(0.0, request.delay) + std::max(0.0, request.duration);
  if (seconds <= 0) {
    mainQueue().post(std::move(finish));
    return;
  }
  const auto delay = std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
  mainQueue().postDelayed(delay, std::move(finish));
}

void HeadlessToolkit::didPresent(ViewController&, ViewController&, bool) {}

void HeadlessToolkit::setLoadObserver(std::function<void(const WebLoadEvent&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void HeadlessToolkit::notifyLoad(const WebLoadEvent& event) {
  std::function<void(const WebLoadEvent&)> observer;
  {
    std::lock_guard lock(mutex_);
    observer = observer_;
  }
  if (observer) observer(event);
}

}  // namespace platform::ui
