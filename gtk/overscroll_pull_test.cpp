#include "overscroll_pull.hpp"

#include <gtest/gtest.h>

namespace gtk {
namespace {

TEST(OverscrollPull, ThreeNotchesPastTheTopPullOncePerGesture) {
  OverscrollPull pull;
  EXPECT_FALSE(pull.scrolled(1.0, -1, ScrollUnit::WheelNotch, true));
  EXPECT_FALSE(pull.scrolled(1.1, -1, ScrollUnit::WheelNotch, true));
  EXPECT_TRUE(pull.scrolled(1.2, -1, ScrollUnit::WheelNotch, true));
  // Going on in the same gesture does not reload again and again.
  for (double t = 1.3; t < 2.0; t += 0.1) EXPECT_FALSE(pull.scrolled(t, -1, ScrollUnit::WheelNotch, true)) << t;
  // After a pause the wheel pulls anew.
  EXPECT_FALSE(pull.scrolled(3.0, -1, ScrollUnit::WheelNotch, true));
  EXPECT_FALSE(pull.scrolled(3.1, -1, ScrollUnit::WheelNotch, true));
  EXPECT_TRUE(pull.scrolled(3.2, -1, ScrollUnit::WheelNotch, true));
}

TEST(OverscrollPull, ScrollingThePageIsNotAPull) {
  OverscrollPull pull;
  // Upward steps below the top scroll the page; they do not count once the top is reached.
  EXPECT_FALSE(pull.scrolled(1.0, -1, ScrollUnit::WheelNotch, false));
  EXPECT_FALSE(pull.scrolled(1.1, -1, ScrollUnit::WheelNotch, false));
  EXPECT_FALSE(pull.scrolled(1.2, -1, ScrollUnit::WheelNotch, true));
  EXPECT_FALSE(pull.scrolled(1.3, -1, ScrollUnit::WheelNotch, true));
  // A step down in between starts the count again.
  EXPECT_FALSE(pull.scrolled(1.4, 1, ScrollUnit::WheelNotch, true));
  EXPECT_FALSE(pull.scrolled(1.5, -1, ScrollUnit::WheelNotch, true));
  EXPECT_FALSE(pull.scrolled(1.6, -1, ScrollUnit::WheelNotch, true));
  EXPECT_TRUE(pull.scrolled(1.7, -1, ScrollUnit::WheelNotch, true));
  // Short pulls separated by pauses never add up.
  OverscrollPull hesitant;
  for (double t = 10; t < 20; t += 1) {
    EXPECT_FALSE(hesitant.scrolled(t, -1, ScrollUnit::WheelNotch, true));
    EXPECT_FALSE(hesitant.scrolled(t + 0.1, -1, ScrollUnit::WheelNotch, true));
  }
}

TEST(OverscrollPull, TouchpadTravelPullsAtTheDistanceAndAgainAfterTheFingersLift) {
  OverscrollPull pull;
  double t = 1;
  for (int step = 0; step < 9; ++step) EXPECT_FALSE(pull.scrolled(t += 0.01, -11, ScrollUnit::Pixel, true));
  EXPECT_TRUE(pull.scrolled(t += 0.01, -11, ScrollUnit::Pixel, true));
  EXPECT_FALSE(pull.scrolled(t += 0.01, -200, ScrollUnit::Pixel, true));
  pull.ended();
  EXPECT_TRUE(pull.scrolled(t += 0.01, -150, ScrollUnit::Pixel, true));
}

}  // namespace
}  // namespace gtk
