#include "uncaught_exception_handler.hpp"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <thread>

#include "analytics/analytics.hpp"
#include "analytics/fields.hpp"
#include "batching_dispatcher.hpp"
#include "diagnostics.hpp"
#include "exception_parser.hpp"

// Fatal signals (SIGSEGV, SIGABRT...) are deliberately not handled: storing
// and sending a hit takes SQLite, libcurl and the heap, none of which is
// async-signal-safe, and a handler that only did the safe part (write() a
// note) would add nothing the platform log and the core dump do not show.

namespace analytics::detail {

namespace {

constexpr auto kGracePeriod = std::chrono::seconds(5);

std::atomic<Analytics*> reporter{nullptr};
std::atomic<std::terminate_handler> previousHandler{nullptr};
std::atomic<int> reporting{0};

[[noreturn]] void callPrevious() {
  if (auto previous = previousHandler.load()) previous();
  std::abort();
}

// Queues the fatal hit and lets it, and what was stored before it, leave
// within the grace period. Exchanges complete on the analytics thread from
// here on: the main loop may be the one that failed.
void report(Analytics& analytics, const std::exception_ptr& exception) {
  auto deadline = std::chrono::steady_clock::now() + kGracePeriod;
  auto failure = ExceptionReport::fromException(exception);
  AN_WARNING("Uncaught exception: " + failure.name + ": " + failure.reason);
  auto dispatcher = analytics.dispatcher();
  if (dispatcher) dispatcher->divertCompletionsToThread();
  auto hit = DictionaryBuilder::anException(platform::Value(ExceptionParser::exceptionDescription(failure, 150)),
                                            platform::Value(true));
  if (auto tracker = analytics.defaultTracker()) tracker->anSend(hit.build());
  analytics.dispatch();
  if (dispatcher) dispatcher->waitUntilIdle(deadline);
}

[[noreturn]] void terminateHandler() {
  int expected = 0;
  auto exception = std::current_exception();
  if (!reporting.compare_exchange_strong(expected, 1, std::memory_order_seq_cst)) {
    auto failure = ExceptionReport::fromException(exception);
    AN_WARNING("Bailing on multiple uncaught exceptions: " + failure.name + ": " + failure.reason);
    // The first report ends the process when it is done; ending it from here
    // would cut that report off. A terminate handler must not return, so
    // wait, and end it only if the first report never does.
    std::this_thread::sleep_for(kGracePeriod * 2);
    std::abort();
  }
  Analytics* analytics = reporter.load();
  if (!exception || !analytics) callPrevious();
  try {
    report(*analytics, exception);
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
