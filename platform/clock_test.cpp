#include "platform/clock.hpp"

#include <gtest/gtest.h>

#include "platform/date.hpp"

namespace platform {
namespace {

class FixedClock final : public Clock {
 public:
  std::chrono::system_clock::time_point now() const override {
    return std::chrono::system_clock::time_point(std::chrono::seconds(1000));
  }
};

TEST(Clock, AnInstalledClockDrivesDateNowUntilRemoved) {
  FixedClock fixed;
  setClock(&fixed);
  EXPECT_EQ(Date::now(), Date(1000));
  setClock(nullptr);
  EXPECT_GT(Date::now().timeIntervalSince1970(), 1.6e9);
}

}  // namespace
}  // namespace platform
