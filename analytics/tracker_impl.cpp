#include "tracker_impl.hpp"

#include "analytics/fields.hpp"
#include "diagnostics.hpp"
#include "platform/clock.hpp"

namespace analytics {

namespace {

constexpr double kMaxCredits = 60.0;
constexpr double kCreditsPerSecond = 0.5;

double nowSeconds() {
  auto since = platform::clock().now().time_since_epoch();
  return std::chrono::duration<double>(since).count();
}

}  // namespace

std::shared_ptr<Tracker> makeTracker(std::shared_ptr<DispatchSender> dispatcher, std::string name) {
  return TrackerImpl::create(std::move(dispatcher), std::move(name));
}

std::unique_ptr<TrackerImpl> TrackerImpl::create(std::shared_ptr<DispatchSender> dispatcher, std::string name) {
  if (!dispatcher) {
    AN_ERROR("initialization failed: dispatcher is required.");
    return nullptr;
  }
  return std::make_unique<TrackerImpl>(std::move(dispatcher), std::move(name));
}

TrackerImpl::TrackerImpl(std::shared_ptr<DispatchSender> dispatcher, std::string name)
    : name_(std::move(name)), dispatcher_(std::move(dispatcher)), model_([weak = std::weak_ptr(dispatcher_)] {
        auto sender = weak.lock();
        return sender ? sender->clientId() : std::string();
      }) {}

void TrackerImpl::set(const std::string& name, const platform::Value& value) {
  std::lock_guard lock(mutex_);
  usageTracker_.trackInstanceAction("set:value:");
  model_.set(name, value);
}

std::optional<std::string> TrackerImpl::get(const std::string& name) {
  std::lock_guard lock(mutex_);
  usageTracker_.trackInstanceAction("get:");
  auto value = model_.parameters().get(name);
  if (const auto* text = value.string()) return *text;
  return std::nullopt;
}

void TrackerImpl::send(const ParameterMap& parameters) {
  usageTracker_.trackInstanceAction("send:");
  anSend(parameters);
}

void TrackerImpl::anSet(const std::string& name, const platform::Value& value) {
  std::lock_guard lock(mutex_);
  model_.set(name, value);
}

void TrackerImpl::anSetAll(const ParameterMap& parameters) {
  std::lock_guard lock(mutex_);
  for (const auto& [key, value] : parameters) model_.set(key, value);
}

std::optional<std::string> TrackerImpl::anGet(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto value = model_.parameters().get(name);
  if (const auto* text = value.string()) return *text;
  return std::nullopt;
}

bool TrackerImpl::tokenAvailable() {
  double now = nowSeconds();
  if (lastTrackTime_ != 0 && trackingCredits_ < kMaxCredits) {
    double elapsed = now - lastTrackTime_;
    if (elapsed > 0) trackingCredits_ = std::min(kMaxCredits, trackingCredits_ + elapsed * kCreditsPerSecond);
  }
  lastTrackTime_ = now;
  if (trackingCredits_ < 1) return false;
  trackingCredits_ -= 1;
  return true;
}

void TrackerImpl::anSend(const ParameterMap& parameters) {
  auto hitType = parameters.get(kHitTypeField);
  const std::string* type = hitType.string();
  if (!type || type->empty()) AN_WARNING("Bad or missing hit type.");
  std::lock_guard lock(mutex_);
  bool unlimited = type && (*type == "transaction" || *type == "item");
  if (!unlimited && !tokenAvailable()) {
    AN_INFO("Excessive tracking detected and throttled.");
    return;
  }
  model_.set(std::string(kUsageField), platform::Value(UsageTracker::getUsageSequence()));
  dispatcher_->queueModel(model_.copyWithOverride(parameters));
}

}  // namespace analytics
