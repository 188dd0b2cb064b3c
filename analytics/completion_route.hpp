#pragma once
// Where the dispatcher's exchanges complete: on the main queue, as the rest
// of the application's callbacks do, until a crash report diverts them to the
// analytics thread (the crash may be on the main thread, whose loop then
// never runs again).

#include <memory>
#include <mutex>
#include <vector>

#include "platform/executor.hpp"

namespace platform {
class EventLoopThread;
}

namespace analytics {

class CompletionRoute final : public platform::Executor, public std::enable_shared_from_this<CompletionRoute> {
 public:
  // `mainQueue` null: the main queue installed when each completion is
  // posted, so a window's queue that has been taken down is never used.
  CompletionRoute(platform::EventLoopThread& thread, platform::Executor* mainQueue);

  void post(platform::Work work) override;
  bool runsOnCurrentThread() const override;

  // From now on completions run on the analytics thread, and so do those
  // already waiting in the main queue (each still runs once).
  void divertToThread();

 private:
  struct Pending;

  platform::Executor& mainQueue() const;
  void forget(const Pending* pending);

  platform::EventLoopThread& thread_;
  platform::Executor* mainQueue_;
  std::mutex mutex_;
  bool diverted_ = false;
  std::vector<std::shared_ptr<Pending>> waiting_;  // posted to the main queue, not run yet
};

}  // namespace analytics
