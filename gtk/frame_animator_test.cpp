#include "frame_animator.hpp"

#include <gtest/gtest.h>

namespace gtk {
namespace {

TEST(FrameAnimator, DrawsAMovingViewOnItsWayAndAtItsModelFrameAfterwards) {
  FrameAnimator animator;
  auto view = ui::View::create({0, 0, 390, 844});
  view->setFrame({-270, 0, 390, 844});
  animator.add({FrameMove{view, {0, 0, 390, 844}, view->frame()}}, 10.0, 0, 0.2);

  EXPECT_EQ(animator.presentationFrame(*view, 10.0).x(), 0);
  EXPECT_NEAR(animator.presentationFrame(*view, 10.1).x(), -135, 1e-9);
  const double early = animator.presentationFrame(*view, 10.02).x();
  EXPECT_LT(early, 0);
  EXPECT_GT(early, -27);  // eased: slower than linear at the start
  EXPECT_EQ(animator.presentationFrame(*view, 10.2).x(), -270);
  EXPECT_TRUE(animator.advance(10.1));
  EXPECT_FALSE(animator.advance(10.3));
}

TEST(FrameAnimator, AModelChangeDuringTheMoveWins) {
  FrameAnimator animator;
  auto view = ui::View::create({-270, 0, 390, 844});
  animator.add({FrameMove{view, {0, 0, 390, 844}, view->frame()}}, 0, 0, 1);
  // A drag sets the frame directly: the move is no longer drawn.
  view->setFrame({-100, 0, 390, 844});
  EXPECT_EQ(animator.presentationFrame(*view, 0.5).x(), -100);
  EXPECT_FALSE(animator.advance(0.5));
}

TEST(FrameAnimator, ANewMoveStartsWhereTheRunningOneIsDrawn) {
  FrameAnimator animator;
  auto view = ui::View::create({-270, 0, 390, 844});
  animator.add({FrameMove{view, {0, 0, 390, 844}, view->frame()}}, 0, 0, 1);
  const ui::Rect midway = animator.presentationFrame(*view, 0.5);
  view->setFrame({0, 0, 390, 844});
  animator.add({FrameMove{view, midway, view->frame()}}, 0.5, 0, 1);
  EXPECT_EQ(animator.presentationFrame(*view, 0.5), midway);
  EXPECT_EQ(animator.presentationFrame(*view, 1.5).x(), 0);
}

TEST(FrameAnimator, DelayedMovesWaitAtTheirStart) {
  FrameAnimator animator;
  auto view = ui::View::create({100, 0, 10, 10});
  animator.add({FrameMove{view, {0, 0, 10, 10}, view->frame()}}, 0, 0.5, 0.5);
  EXPECT_EQ(animator.presentationFrame(*view, 0.25).x(), 0);
  EXPECT_DOUBLE_EQ(animator.presentationFrame(*view, 0.75).x(), 50);
}

TEST(VelocityTracker, MeasuresTheRecentMotionOnly) {
  VelocityTracker tracker;
  EXPECT_EQ(tracker.velocity(), ui::Point{});
  tracker.add(0.0, {0, 0});
  tracker.add(0.5, {0, 0});  // a pause before the flick
  tracker.add(0.55, {-50, 0});
  tracker.add(0.6, {-100, 0});
  EXPECT_DOUBLE_EQ(tracker.velocity().x, -1000);
  tracker.reset();
  tracker.add(1.0, {5, 5});
  EXPECT_EQ(tracker.velocity(), ui::Point{});
}

}  // namespace
}  // namespace gtk
