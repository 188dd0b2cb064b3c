#pragma once
// The client's tracker: standing parameters, a rate limit, and the hand-over
// of each hit's model to the dispatcher.

#include <memory>
#include <mutex>
#include <string>

#include "analytics/tracker.hpp"
#include "dispatch_sender.hpp"
#include "tracker_model.hpp"
#include "usage_tracker.hpp"

namespace analytics {

class TrackerImpl final : public Tracker {
 public:
  // A tracker sending through `dispatcher`; nullptr when there is none (an
  // error is logged).
  static std::unique_ptr<TrackerImpl> create(std::shared_ptr<DispatchSender> dispatcher, std::string name);
  TrackerImpl(std::shared_ptr<DispatchSender> dispatcher, std::string name);

  void set(const std::string& name, const platform::Value& value) override;
  std::optional<std::string> get(const std::string& name) override;
  void send(const ParameterMap& parameters) override;
  const std::string& name() const override { return name_; }

  void anSet(const std::string& name, const platform::Value& value) override;
  void anSend(const ParameterMap& parameters) override;
  void anSetAll(const ParameterMap& parameters);
  std::optional<std::string> anGet(const std::string& name);

 private:
  // The token bucket: 60 hits at once, then one per 2 seconds.
  bool tokenAvailable();

  std::mutex mutex_;
  std::string name_;
  std::shared_ptr<DispatchSender> dispatcher_;
  TrackerModel model_;
  UsageTracker usageTracker_;
  double trackingCredits_ = 60.0;
  double lastTrackTime_ = 0;
};

}  // namespace analytics
