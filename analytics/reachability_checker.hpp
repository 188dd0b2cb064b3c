#pragma once
// Watches whether the collection host is reachable.

#include <memory>
#include <string>

#include "platform/reachability.hpp"

namespace analytics {

enum class ReachabilityStatus : int { Unknown = 0, NotReachable = 1, ReachableViaWiFi = 2, ReachableViaCellular = 3 };

class ReachabilityChecker;

class ReachabilityDelegate {
 public:
  virtual ~ReachabilityDelegate() = default;
  // Called on the main queue when the status changes.
  virtual void reachabilityStatusChanged(ReachabilityChecker& checker, ReachabilityStatus status) = 0;
};

class ReachabilityChecker {
 public:
  // nullptr for an empty host (an error is logged). The delegate is not owned.
  static std::unique_ptr<ReachabilityChecker> create(ReachabilityDelegate* delegate, std::string host);
  ReachabilityChecker(ReachabilityDelegate* delegate, std::string host);
  ~ReachabilityChecker();

  // Starts watching on the main queue; true when running (already or now).
  bool start();
  // Stops watching; the status returns to Unknown.
  void stop();
  bool isActive() const { return watcher_ != nullptr; }

  ReachabilityStatus status() const { return status_; }
  const std::string& host() const { return host_; }

  // Replaces the reachability source (default: the platform's). Raises
  // InternalInconsistencyException while running.
  void setReachabilitySource(platform::ReachabilitySource* source);

  static ReachabilityStatus statusForFlags(platform::ReachabilityFlags flags);
  // Computes the status and tells the delegate when it changed. Main queue.
  void reachabilityFlagsChanged(platform::ReachabilityFlags flags);

 private:
  ReachabilityDelegate* delegate_;
  std::string host_;
  platform::ReachabilitySource* source_ = nullptr;
  std::unique_ptr<platform::ReachabilityWatcher> watcher_;
  ReachabilityStatus status_ = ReachabilityStatus::Unknown;
};

}  // namespace analytics
