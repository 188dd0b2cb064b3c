#include "glib_main_queue.hpp"

#include <glib.h>

#include <algorithm>
#include <chrono>
#include <exception>

namespace gtk {

namespace {

gboolean runOnce(gpointer data) {
  auto* work = static_cast<platform::Work*>(data);
  // An exception must not unwind through GLib's C frames; ending the process
  // here keeps it an uncaught exception for the crash reporting.
  try {
    (*work)();
  } catch (...) {
    std::terminate();
  }
  return G_SOURCE_REMOVE;
}

void destroyWork(gpointer data) { delete static_cast<platform::Work*>(data); }

}  // namespace

GlibMainQueue::GlibMainQueue() = default;

void GlibMainQueue::post(platform::Work work) {
  // g_idle_add_full attaches to the default context and wakes it; safe from any thread.
  g_idle_add_full(G_PRIORITY_DEFAULT, runOnce, new platform::Work(std::move(work)), destroyWork);
}

void GlibMainQueue::postDelayed(platform::Duration delay, platform::Work work) {
  const auto ms = std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(delay).count());
  g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(ms), runOnce, new platform::Work(std::move(work)),
                     destroyWork);
}

bool GlibMainQueue::runsOnCurrentThread() const { return platform::isMainThread(); }

}  // namespace gtk
