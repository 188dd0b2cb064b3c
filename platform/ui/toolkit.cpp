#include "platform/ui/toolkit.hpp"

#include <atomic>

#include "platform/ui/headless_toolkit.hpp"

namespace platform::ui {

namespace {
std::atomic<Toolkit*> installed{nullptr};
}  // namespace

Toolkit& toolkit() {
  Toolkit* t = installed.load(std::memory_order_acquire);
  return t ? *t : HeadlessToolkit::shared();
}

void setToolkit(Toolkit* t) noexcept { installed.store(t, std::memory_order_release); }

}  // namespace platform::ui
