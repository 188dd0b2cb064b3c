#include "backend/http/network_activity_indicator_manager.hpp"

#include <chrono>

#include "backend/http/url_connection_operation.hpp"
#include "platform/clock.hpp"

namespace backend::http {
namespace {

constexpr std::chrono::milliseconds kHideDelay(170);

platform::EventLoopThread& timerThread() {
  static platform::EventLoopThread thread("BEActivity");
  return thread;
}

}  // namespace

NetworkActivityIndicatorManager::NetworkActivityIndicatorManager() {
  // Created first so that it is destroyed after any manager kept in a static.
  timerThread();
  auto& center = platform::NotificationCenter::defaultCenter();
  startObserver_ = platform::ScopedObserver(
      center, center.addObserver(kOperationDidStartNotification, [this](const auto&) { incrementActivityCount(); }));
  finishObserver_ = platform::ScopedObserver(
      center, center.addObserver(kOperationDidFinishNotification, [this](const auto&) { decrementActivityCount(); }));
}

NetworkActivityIndicatorManager::~NetworkActivityIndicatorManager() {
  startObserver_.reset();
  finishObserver_.reset();
  {
    // Checks are posted under the lock, so none is posted after this.
    std::lock_guard lock(mutex_);
    lifetime_.reset();
  }
  // A hide check that already began must end before the members go.
  timerThread().perform([] {}, platform::EventLoopThread::Wait::Yes);
}

NetworkActivityIndicatorManager& NetworkActivityIndicatorManager::sharedManager() {
  static NetworkActivityIndicatorManager manager;
  return manager;
}

void NetworkActivityIndicatorManager::setEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_ = enabled;
}

bool NetworkActivityIndicatorManager::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

void NetworkActivityIndicatorManager::incrementActivityCount() {
  {
    std::lock_guard lock(mutex_);
    ++activityCount_;
  }
  activityChanged();
}

void NetworkActivityIndicatorManager::decrementActivityCount() {
  {
    std::lock_guard lock(mutex_);
    if (activityCount_ > 0) --activityCount_;
  }
  activityChanged();
}

int NetworkActivityIndicatorManager::activityCount() const {
  std::lock_guard lock(mutex_);
  return activityCount_;
}

bool NetworkActivityIndicatorManager::isNetworkActivityIndicatorVisible() const {
  std::lock_guard lock(mutex_);
  return activityCount_ > 0;
}

bool NetworkActivityIndicatorManager::isIndicatorShown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

void NetworkActivityIndicatorManager::setVisibilityHandler(VisibilityHandler handler) {
  std::lock_guard lock(mutex_);
  handler_ = std::move(handler);
}

void NetworkActivityIndicatorManager::activityChanged() {
  {
    std::lock_guard lock(mutex_);
    if (!enabled_) return;
    if (activityCount_ == 0) {
      if (moveHideDeadline()) postHideCheck(kHideDelay);
      return;
    }
  }
  // A start needs no cancelling: the armed check finds the activity.
  updateIndicator();
}

bool NetworkActivityIndicatorManager::moveHideDeadline() {
  hideDeadline_ = platform::clock().steadyNow() + kHideDelay;
  if (hideCheckArmed_) return false;
  hideCheckArmed_ = true;
  return true;
}

void NetworkActivityIndicatorManager::postHideCheck(std::chrono::steady_clock::duration delay) {
  timerThread().postDelayed(delay, [this, alive = std::weak_ptr<int>(lifetime_)] {
    if (auto held = alive.lock()) checkHide();
  });
}

void NetworkActivityIndicatorManager::checkHide() {
  {
    std::lock_guard lock(mutex_);
    auto now = platform::clock().steadyNow();
    if (enabled_ && activityCount_ == 0 && now < hideDeadline_) {
      postHideCheck(hideDeadline_ - now);
      return;
    }
    hideCheckArmed_ = false;
  }
  updateIndicator();
}

void NetworkActivityIndicatorManager::updateIndicator() {
  // Changes are delivered one at a time and in order, but the handler runs
  // outside the state lock: it may take locks of its own that are held
  // around calls into this manager.
  std::lock_guard delivering(deliveryMutex_);
  VisibilityHandler handler;
  bool visible = false;
  {
    std::lock_guard lock(mutex_);
    visible = enabled_ && activityCount_ > 0;
    if (visible == shown_) return;
    shown_ = visible;
    handler = handler_;
  }
  if (handler) handler(visible);
}

}  // namespace backend::http
