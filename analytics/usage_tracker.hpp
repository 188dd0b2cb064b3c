#pragma once
// Records which public operations the application called, as one code letter
// per call; the record travels with each hit as "&_u".

#include <string>
#include <string_view>

namespace analytics {

class UsageTracker {
 public:
  UsageTracker() = default;
  // Forgets the codes recorded for this instance.
  ~UsageTracker();
  UsageTracker(const UsageTracker&) = delete;
  UsageTracker& operator=(const UsageTracker&) = delete;

  // Records `action` (an operation name such as "send:") for `target` when it
  // has a code: adds the code to the target's set and appends it to the
  // sequence. Names without a code record nothing. Thread-safe.
  static void trackTarget(const void* target, std::string_view action);
  // trackTarget with the class itself as target.
  static void trackAction(std::string_view action);
  // The code of an operation name, or '\0' when it has none.
  static char codeForAction(std::string_view action);

  // Takes the sequence recorded so far and starts a new one: "." followed by
  // the codes, or "" when nothing was recorded. Thread-safe.
  static std::string getUsageSequence();
  // The sorted codes of the target's set together with the class's own set
  // (when the target is not the class); both sets are then forgotten.
  static std::string getUsageClearingTarget(const void* target);

  // trackTarget / getUsageClearingTarget with this instance as target.
  void trackInstanceAction(std::string_view action);
  std::string getUsage();
};

}  // namespace analytics
