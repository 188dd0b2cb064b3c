#include "backend/http/network_activity_indicator_manager.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace backend::http {
namespace {

using namespace std::chrono_literals;

struct Changes {
  std::mutex mutex;
  std::vector<bool> seen;
  void add(bool visible) {
    std::lock_guard lock(mutex);
    seen.push_back(visible);
  }
  std::vector<bool> get() {
    std::lock_guard lock(mutex);
    return seen;
  }
};

// Waits (without judging how long it took) until the manager has hidden.
void waitForHide(const NetworkActivityIndicatorManager& manager) {
  for (int i = 0; i < 500 && manager.isIndicatorShown(); ++i) std::this_thread::sleep_for(10ms);
}

TEST(NetworkActivityIndicator, BurstsThatTouchZeroHideOnceAfterTheLast) {
  NetworkActivityIndicatorManager manager;
  manager.setEnabled(true);
  auto changes = std::make_shared<Changes>();
  manager.setVisibilityHandler([changes](bool visible) { changes->add(visible); });
  for (int i = 0; i < 50; ++i) {
    manager.incrementActivityCount();
    manager.incrementActivityCount();
    manager.decrementActivityCount();
    manager.decrementActivityCount();
  }
  EXPECT_TRUE(manager.isIndicatorShown());
  waitForHide(manager);
  EXPECT_EQ(changes->get(), (std::vector<bool>{true, false}));

  // A start while the hide is due keeps it shown; the next end hides again.
  manager.incrementActivityCount();
  manager.decrementActivityCount();
  manager.incrementActivityCount();
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(manager.isIndicatorShown());
  manager.decrementActivityCount();
  waitForHide(manager);
  EXPECT_EQ(changes->get(), (std::vector<bool>{true, false, true, false}));
}

TEST(NetworkActivityIndicator, AManagerMayGoWhileItsHideIsDue) {
  auto changes = std::make_shared<Changes>();
  {
    NetworkActivityIndicatorManager manager;
    manager.setEnabled(true);
    manager.setVisibilityHandler([changes](bool visible) { changes->add(visible); });
    manager.incrementActivityCount();
    manager.decrementActivityCount();
  }
  // Past the hide delay: the pending check must find the manager gone.
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(changes->get(), (std::vector<bool>{true}));
}

}  // namespace
}  // namespace backend::http
