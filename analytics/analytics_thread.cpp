#include "analytics/analytics.hpp"
#include "platform/event_loop_thread.hpp"

namespace analytics {

platform::EventLoopThread& Analytics::thread() {
  // Destroyed (stopped and joined) at process exit.
  static platform::EventLoopThread thread("ANThread");
  return thread;
}

}  // namespace analytics
