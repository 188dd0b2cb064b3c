#pragma once
// Follows the request operations' start and finish notifications and keeps
// the platform's network activity indicator shown while any is running.
// Showing takes effect at once; hiding waits 0.17 s (restarted by every
// change) so that back-to-back requests do not flicker.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/event_loop_thread.hpp"
#include "platform/notification_center.hpp"

namespace backend::http {

class NetworkActivityIndicatorManager {
 public:
  // Receives the indicator's new visibility whenever it changes (the
  // platform indicator stand-in), on the notifying or the timer thread.
  using VisibilityHandler = std::function<void(bool visible)>;

  // Observes the default notification centre while it lives.
  NetworkActivityIndicatorManager();
  ~NetworkActivityIndicatorManager();
  NetworkActivityIndicatorManager(const NetworkActivityIndicatorManager&) = delete;
  NetworkActivityIndicatorManager& operator=(const NetworkActivityIndicatorManager&) = delete;

  // The process-wide manager (enabled by the backend layer).
  static NetworkActivityIndicatorManager& sharedManager();

  void setEnabled(bool enabled);
  bool isEnabled() const;
  void incrementActivityCount();
  void decrementActivityCount();
  int activityCount() const;
  // True while any operation is running.
  bool isNetworkActivityIndicatorVisible() const;
  // Whether the indicator is shown now (visible, enabled, hide delay passed).
  bool isIndicatorShown() const;
  void setVisibilityHandler(VisibilityHandler handler);

 private:
  void activityChanged();
  // Arms the hide check unless one is armed; true when the caller must post it.
  bool moveHideDeadline();
  void postHideCheck(std::chrono::steady_clock::duration delay);
  // On the timer thread: hides once the deadline has passed, or waits on.
  void checkHide();
  void updateIndicator();

  mutable std::recursive_mutex mutex_;
  // Held while the visibility handler runs; never taken under mutex_.
  std::mutex deliveryMutex_;
  bool enabled_ = false;
  int activityCount_ = 0;
  bool shown_ = false;
  VisibilityHandler handler_;
  // Hiding is due at this time. One check at a time waits for it on the
  // timer thread, so a burst of requests never blocks on that thread.
  std::chrono::steady_clock::time_point hideDeadline_;
  bool hideCheckArmed_ = false;
  // Checks hold it weakly: one that fires after the manager is gone does nothing.
  std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
  platform::ScopedObserver startObserver_;
  platform::ScopedObserver finishObserver_;
};

}  // namespace backend::http
