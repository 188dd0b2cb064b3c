#include "uncaught_exception_handler.hpp"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <thread>

#include "analytics/analytics.hpp"
#include "analytics/exception_parser.hpp"
#include "analytics/fields.hpp"
#include "diagnostics.hpp"
#include "platform/event_loop_thread.hpp"
#include "platform/executor.hpp"
#include "platform/run_loop.hpp"

// Fatal signals (SIGSEGV, SIGABRT...) are deliberately not handled: storing
// and sending a hit takes SQLite, libcurl and the heap, none of which is
// async-signal-safe, and a handler that only did the safe part (write() a
// note) would add nothing the platform log and the core dump do not show.

namespace analytics::detail {

namespace {

constexpr auto kGracePeriod = std::chrono::seconds(5);
constexpr auto kGraceSlice = std::chrono::milliseconds(10);

std::atomic<Analytics*> reporter{nullptr};
std::atomic<std::terminate_handler> previousHandler{nullptr};
std::atomic<int> reporting{0};

// Lets the storing, sending and completion work happen: runs the main loop
// when the crash is on the main thread of a headless program, else waits.
// Ends early once the hit is out.
void waitForDelivery(Analytics& analytics) {
  auto& thread = Analytics::thread();
  if (thread.runsOnCurrentThread()) return;  // nothing can run there while we wait
  bool pumpMain = platform::isMainThread() && &platform::mainQueue() == &platform::RunLoop::main();
  auto deadline = std::chrono::steady_clock::now() + kGracePeriod;
  auto dispatcher = analytics.dispatcher();
  while (std::chrono::steady_clock::now() < deadline) {
    if (pumpMain) {
      platform::RunLoop::main().runFor(kGraceSlice);
    } else {
      std::this_thread::sleep_for(kGraceSlice);
    }
    if (dispatcher && dispatcher->isIdle()) return;
  }
}

[[noreturn]] void callPrevious() {
  if (auto previous = previousHandler.load()) previous();
  std::abort();
}

[[noreturn]] void terminateHandler() {
  int expected = 0;
  auto exception = std::current_exception();
  if (!reporting.compare_exchange_strong(expected, 1, std::memory_order_seq_cst)) {
    auto report = ExceptionReport::fromException(exception);
    AN_WARNING("Bailing on multiple uncaught exceptions: " + report.name + ": " + report.reason);
    // A terminate handler must not return.
    std::abort();
  }
  Analytics* analytics = reporter.load();
  if (!exception || !analytics) callPrevious();
  try {
    auto report = ExceptionReport::fromException(exception);
    AN_WARNING("Uncaught exception: " + report.name + ": " + report.reason);
    auto hit = DictionaryBuilder::anException(platform::Value(ExceptionParser::exceptionDescription(report, 150)),
                                              platform::Value(true));
    if (auto tracker = analytics->defaultTracker()) {
      if (auto* impl = dynamic_cast<TrackerImpl*>(tracker.get())) {
        impl->anSend(hit.build());
      } else {
        tracker->send(hit.build());
      }
    }
    analytics->dispatch();
    waitForDelivery(*analytics);
  } catch (...) {
    // Reporting must never stand in the way of the previous handler.
  }
  callPrevious();
}

}  // namespace

void installUncaughtExceptionHandler(Analytics* owner) {
  reporter.store(owner);
  if (std::get_terminate() == &terminateHandler) return;
  previousHandler.store(std::set_terminate(&terminateHandler));
}

void removeUncaughtExceptionHandler(Analytics* owner) {
  Analytics* expected = owner;
  reporter.compare_exchange_strong(expected, nullptr);
  if (std::get_terminate() != &terminateHandler) return;
  std::set_terminate(previousHandler.load());
}

}  // namespace analytics::detail
