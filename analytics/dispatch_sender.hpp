#pragma once
// What a tracker hands its hits to (the batching dispatcher).

#include <string>

#include "tracker_model.hpp"

namespace analytics {

class DispatchSender {
 public:
  virtual ~DispatchSender() = default;
  // Queues the hit that `model` builds. Returns at once; the building and
  // storing happen on the analytics thread. Thread-safe.
  virtual void queueModel(TrackerModel model) = 0;
  // Queues an already built parameter map. Thread-safe.
  virtual void queueDispatch(ParameterMap parameters) = 0;
  // The installation's client id (may wait for the store to be set up).
  virtual std::string clientId() = 0;
};

}  // namespace analytics
