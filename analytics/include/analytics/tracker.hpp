#pragma once
// Trackers: what the application sends hits through.

#include <memory>
#include <optional>
#include <string>

#include "analytics/dictionary_builder.hpp"

namespace analytics {

class DispatchSender;

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

  // set and send as the client itself calls them (the tracking id at
  // creation, the crash report): the same without recording usage, so the
  // application's "&_u" shows only its own calls. A tracker that wraps
  // another forwards these to the inner tracker's own forms.
  virtual void anSet(const std::string& name, const platform::Value& value) = 0;
  virtual void anSend(const ParameterMap& parameters) = 0;
};

// The client's own tracker, sending through `dispatcher` (what a tracker
// factory is handed); null without a dispatcher (an error is logged).
std::shared_ptr<Tracker> makeTracker(std::shared_ptr<DispatchSender> dispatcher, std::string name);

}  // namespace analytics
