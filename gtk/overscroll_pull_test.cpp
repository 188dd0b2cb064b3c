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

TEST(OverscrollPull, OnlyAGestureThatStartsAtTheTopPulls) {
  OverscrollPull pull;
  // Wheeling up a long page: the top is reached within the gesture, and
  // going on past it is not a pull however far it goes.
  EXPECT_FALSE(pull.scrolled(1.0, -1, ScrollUnit::WheelNotch, false));
  EXPECT_FALSE(pull.scrolled(1.1, -1, ScrollUnit::WheelNotch, false));
  for (double t = 1.2; t < 2.0; t += 0.1) EXPECT_FALSE(pull.scrolled(t, -1, ScrollUnit::WheelNotch, true)) << t;
  // A rest at the top, then a pull.
  EXPECT_FALSE(pull.scrolled(2.5, -1, ScrollUnit::WheelNotch, true));
  EXPECT_FALSE(pull.scrolled(2.6, -1, ScrollUnit::WheelNotch, true));
  EXPECT_TRUE(pull.scrolled(2.7, -1, ScrollUnit::WheelNotch, true));
  // A step down spends the gesture too.
  EXPECT_FALSE(pull.scrolled(4.0, 1, ScrollUnit::WheelNotch, true));
  for (double t = 4.1; t < 4.5; t += 0.1) EXPECT_FALSE(pull.scrolled(t, -1, ScrollUnit::WheelNotch, true)) << t;
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
  // Fingers that scrolled the page up to its top must lift before a pull.
  pull.ended();
  EXPECT_FALSE(pull.scrolled(t += 0.01, -300, ScrollUnit::Pixel, false));
  EXPECT_FALSE(pull.scrolled(t += 0.01, -300, ScrollUnit::Pixel, true));
  pull.ended();
  EXPECT_TRUE(pull.scrolled(t += 0.01, -150, ScrollUnit::Pixel, true));
}

}  // namespace
}  // namespace gtk
