#pragma once
// Where work runs. Every queue of the system is an Executor: the main queue,
// the background pools, serial queues and threads with their own loop.

#include <chrono>
#include <functional>

namespace platform {

using Work = std::function<void()>;
using Duration = std::chrono::steady_clock::duration;

// Work that owns itself and is posted as it is, so a hot path (a task's
// continuation) posts without allocating a Work around it. The executor calls
// exactly one of run() or, when it drops the work unrun at shutdown, discard().
class Runnable {
 public:
  virtual void run() = 0;
  virtual void discard() noexcept = 0;

 protected:
  ~Runnable() = default;
};

class Executor {
 public:
  virtual ~Executor() = default;
  // Runs work later, never in the caller's frame. Thread-safe.
  virtual void post(Work work) = 0;
  // Runs `runnable` later as post does. The default wraps it in a Work; the
  // pools queue it without allocating.
  virtual void postRunnable(Runnable& runnable);
  // Runs work after at least `delay`. The default hands the wait to the
  // process timer thread, which then posts the work here.
  virtual void postDelayed(Duration delay, Work work);
  // True when the calling thread is one this executor runs work on.
  virtual bool runsOnCurrentThread() const = 0;
};

// The process main thread (the thread that ran static initialisation).
bool isMainThread() noexcept;

// The main queue: the UI thread's loop. Headless programs get RunLoop::main();
// a GUI installs its own loop with setMainQueue before posting anything.
Executor& mainQueue();
void setMainQueue(Executor* queue) noexcept;

// The default-priority concurrent pool shared by the whole process.
Executor& backgroundQueue();
// A lower-priority concurrent pool (disk-cache writes).
Executor& lowPriorityQueue();

}  // namespace platform
