#pragma once
// The main queue of headless programs and tests: a loop the program drives.

#include <chrono>
#include <functional>
#include <memory>

#include "platform/executor.hpp"

namespace platform {

class RunLoop final : public Executor {
 public:
  RunLoop();
  ~RunLoop() override;
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // The process-wide loop behind mainQueue() when no GUI loop is installed.
  static RunLoop& main();

  void post(Work work) override;
  void postDelayed(Duration delay, Work work) override;
  bool runsOnCurrentThread() const override;

  // Runs posted work and due timers until stop() is called. Work that throws
  // unwinds out of run() (the rest of the queue stays queued).
  void run();
  void stop();
  // Runs until `done` returns true (checked after each piece of work and
  // before sleeping) or the timeout passes; answers done().
  bool runUntil(const std::function<bool()>& done, Duration timeout);
  // Runs for the given time.
  void runFor(Duration duration);
  // Runs everything already due, then returns the number of pieces run.
  std::size_t drain();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace platform
