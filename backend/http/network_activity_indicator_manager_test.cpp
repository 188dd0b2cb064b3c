#include "backend/http/network_activity_indicator_manager.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <utility>
#include <vector>

#include "support/eventually.hpp"
#include "support/manual_clock.hpp"

namespace backend::http {
namespace {

using namespace std::chrono_literals;
using Change = std::pair<bool, std::chrono::milliseconds>;

// Every change of the indicator, with the time on the test's clock.
class Changes {
 public:
  explicit Changes(const test_support::ManualClock& clock) : clock_(clock), start_(clock.steadyNow()) {}
  void add(bool visible) {
    std::lock_guard lock(mutex_);
    seen_.emplace_back(visible, std::chrono::duration_cast<std::chrono::milliseconds>(clock_.steadyNow() - start_));
  }
  std::vector<Change> get() {
    std::lock_guard lock(mutex_);
    return seen_;
  }

 private:
  const test_support::ManualClock& clock_;
  const platform::SteadyTime start_;
  std::mutex mutex_;
  std::vector<Change> seen_;
};

// Moves the clock past the hide check the manager armed and waits until it hid.
bool hideAfter(test_support::ManualClock& clock, std::chrono::milliseconds delay,
               const NetworkActivityIndicatorManager& manager) {
  if (!clock.waitForAlarms(1)) return false;
  clock.advance(delay);
  return test_support::eventually([&] { return !manager.isIndicatorShown(); });
}

TEST(NetworkActivityIndicator, BurstsThatTouchZeroHideOnceAFullDelayAfterTheLast) {
  test_support::ManualClock clock;
  NetworkActivityIndicatorManager manager;
  manager.setEnabled(true);
  auto changes = std::make_shared<Changes>(clock);
  manager.setVisibilityHandler([changes](bool visible) { changes->add(visible); });
  for (int i = 0; i < 50; ++i) {
    manager.incrementActivityCount();
    manager.incrementActivityCount();
    manager.decrementActivityCount();
    manager.decrementActivityCount();
  }
  EXPECT_TRUE(manager.isIndicatorShown());
  ASSERT_TRUE(hideAfter(clock, 170ms, manager));

  // A start while the hide is due keeps it shown; the next end hides again,
  // a full delay after that end.
  manager.incrementActivityCount();
  manager.decrementActivityCount();
  manager.incrementActivityCount();
  clock.advance(300ms);
  manager.decrementActivityCount();
  ASSERT_TRUE(hideAfter(clock, 170ms, manager));
  EXPECT_EQ(changes->get(), (std::vector<Change>{{true, 0ms}, {false, 170ms}, {true, 170ms}, {false, 640ms}}));
}

TEST(NetworkActivityIndicator, AManagerMayGoWhileItsHideIsDue) {
  test_support::ManualClock clock;
  auto changes = std::make_shared<Changes>(clock);
  {
    NetworkActivityIndicatorManager manager;
    manager.setEnabled(true);
    manager.setVisibilityHandler([changes](bool visible) { changes->add(visible); });
    manager.incrementActivityCount();
    manager.decrementActivityCount();
    ASSERT_TRUE(clock.waitForAlarms(1));
  }
  clock.advance(170ms);  // the pending check must find the manager gone
  // Checks run one at a time in order, so once a later manager has hidden,
  // the gone one's check is over.
  NetworkActivityIndicatorManager later;
  later.setEnabled(true);
  later.incrementActivityCount();
  later.decrementActivityCount();
  ASSERT_TRUE(hideAfter(clock, 170ms, later));
  EXPECT_EQ(changes->get(), (std::vector<Change>{{true, 0ms}}));
}

}  // namespace
}  // namespace backend::http
