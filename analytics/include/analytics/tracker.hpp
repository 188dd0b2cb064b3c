#pragma once
// Trackers: what the application sends hits through.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "analytics/dispatch_sender.hpp"
#include "analytics/tracker_model.hpp"
#include "analytics/usage_tracker.hpp"

namespace analytics {

class Tracker {
 public:
  virtual ~Tracker() = default;
  // Sets a standing parameter, sent with every later hit; nil stores the
  // null marker. Thread-safe, returns at once.
  virtual void set(const std::string& name, const platform::Value& value) = 0;
  // The standing value when it is a string.
  virtual std::optional<std::string> get(const std::string& name) = 0;
  // Sends one hit: the standing parameters overridden by `parameters`.
  // Returns at once; no disk or network work happens on the caller's thread.
  // A hit over the rate limit is dropped (an info message is logged).
  virtual void send(const ParameterMap& parameters) = 0;
  virtual const std::string& name() const = 0;
};

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

  // The same without recording usage (for the client's own callers).
  void anSet(const std::string& name, const platform::Value& value);
  void anSetAll(const ParameterMap& parameters);
  std::optional<std::string> anGet(const std::string& name);
  void anSend(const ParameterMap& parameters);

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
