#pragma once
// The main queue of the window mode: work posted here runs on the GLib main
// loop (the thread that runs GTK), so application code and widgets share
// one thread.

#include "platform/executor.hpp"

namespace gtk {

class GlibMainQueue final : public platform::Executor {
 public:
  // Binds to the default GLib main context; construct on the main thread.
  GlibMainQueue();

  // Thread-safe; the work runs on the next iteration of the default context.
  void post(platform::Work work) override;
  // Thread-safe; the work runs on the default context after `delay`.
  void postDelayed(platform::Duration delay, platform::Work work) override;
  bool runsOnCurrentThread() const override;
};

}  // namespace gtk
