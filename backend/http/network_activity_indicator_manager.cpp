#include "backend/http/network_activity_indicator_manager.hpp"

#include <chrono>

#include "backend/http/url_connection_operation.hpp"

namespace backend::http {
namespace {

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
    std::lock_guard lock(mutex_);
    hideTimer_.cancel();
  }
  // A hide that already began must end before the members go.
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
    hideTimer_.cancel();
    if (activityCount_ == 0) {
      hideTimer_ = timerThread().scheduleTimer(std::chrono::milliseconds(170), false, [this] { updateIndicator(); });
      return;
    }
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
