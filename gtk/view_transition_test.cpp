#include "view_transition.hpp"

#include <gtest/gtest.h>

namespace gtk {
namespace {

constexpr ui::Size kPhone{390, 844};

ViewTransition transition(const std::string& type, const std::string& subtype,
                          ui::MediaTimingFunction timing = ui::MediaTimingFunction::EaseOut) {
  return ViewTransition({}, ui::LayerAnimation::transition(type, subtype, 0.25, timing), 10);
}

TEST(ViewTransition, TheArticleMovesInFromTheRightOverTheOldPictureEasingOut) {
  const auto article = transition(ui::kTransitionMoveIn, ui::kTransitionFromRight);
  ASSERT_TRUE(article.moves());
  EXPECT_EQ(article.offsetsAt(10, kPhone).content, ui::Point(390, 0));
  const TransitionOffsets halfway = article.offsetsAt(10.125, kPhone);
  // Ease-out: well past half the way at half the time; the old picture stays put, underneath.
  EXPECT_LT(halfway.content.x, 390 * 0.4);
  EXPECT_GT(halfway.content.x, 0);
  EXPECT_EQ(halfway.picture, ui::Point(0, 0));
  EXPECT_FALSE(halfway.pictureOnTop);
  EXPECT_NEAR(article.offsetsAt(10.2499, kPhone).content.x, 0, 1);
  EXPECT_TRUE(article.hasEnded(10.25));
  EXPECT_EQ(article.offsetsAt(10.25, kPhone).content, ui::Point(0, 0));
}

TEST(ViewTransition, PushAndRevealMoveTheOldPictureOutTheOtherWay) {
  const auto push = transition(ui::kTransitionPush, ui::kTransitionFromLeft, ui::MediaTimingFunction::Linear);
  const TransitionOffsets pushed = push.offsetsAt(10.125, kPhone);
  EXPECT_EQ(pushed.content, ui::Point(-195, 0));
  EXPECT_EQ(pushed.picture, ui::Point(195, 0));

  const auto reveal = transition(ui::kTransitionReveal, ui::kTransitionFromBottom, ui::MediaTimingFunction::Linear);
  const TransitionOffsets revealed = reveal.offsetsAt(10.125, kPhone);
  EXPECT_EQ(revealed.content, ui::Point(0, 0));
  EXPECT_EQ(revealed.picture, ui::Point(0, -422));
  EXPECT_TRUE(revealed.pictureOnTop);

  EXPECT_FALSE(transition(ui::kTransitionFade, "").moves());
}

TEST(ViewTransition, TimingCurvesRunFromZeroToOneAtTheirOwnPace) {
  for (auto timing : {ui::MediaTimingFunction::Linear, ui::MediaTimingFunction::EaseIn, ui::MediaTimingFunction::EaseOut,
                      ui::MediaTimingFunction::EaseInEaseOut, ui::MediaTimingFunction::Default}) {
    EXPECT_NEAR(timingProgress(timing, 0), 0, 1e-6);
    EXPECT_NEAR(timingProgress(timing, 1), 1, 1e-6);
  }
  EXPECT_LT(timingProgress(ui::MediaTimingFunction::EaseIn, 0.5), 0.5);
  EXPECT_GT(timingProgress(ui::MediaTimingFunction::EaseOut, 0.5), 0.5);
  EXPECT_NEAR(timingProgress(ui::MediaTimingFunction::EaseInEaseOut, 0.5), 0.5, 1e-3);
}

}  // namespace
}  // namespace gtk
