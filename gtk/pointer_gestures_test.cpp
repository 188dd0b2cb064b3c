#include "pointer_gestures.hpp"

#include <gtest/gtest.h>

namespace gtk {
namespace {

TEST(PointerGestures, AMouseDragOverTextIsTheWidgetsAndATouchDragMovesThePanelsAnywhere) {
  EXPECT_FALSE(dragMovesPanels(PointerKind::Mouse, DragStart::Page));
  EXPECT_FALSE(dragMovesPanels(PointerKind::Mouse, DragStart::TextField));
  EXPECT_TRUE(dragMovesPanels(PointerKind::Mouse, DragStart::Bar));
  EXPECT_TRUE(dragMovesPanels(PointerKind::Mouse, DragStart::Elsewhere));
  for (DragStart where : {DragStart::Page, DragStart::TextField, DragStart::Bar, DragStart::Elsewhere}) {
    EXPECT_TRUE(dragMovesPanels(PointerKind::Touch, where)) << int(where);
  }
}

TEST(TouchpadSwipe, AHorizontalSwipeMovesThePanelsTheWayTheContentWouldForTheWholeGesture) {
  TouchpadSwipe swipe;
  double t = 1;
  // Small steps decide nothing yet.
  EXPECT_EQ(swipe.scrolled(t += 0.01, 3, 1), TouchpadSwipe::Verdict::Undecided);
  EXPECT_EQ(swipe.scrolled(t += 0.01, 3, -1), TouchpadSwipe::Verdict::Undecided);
  EXPECT_EQ(swipe.scrolled(t += 0.01, 3, 0), TouchpadSwipe::Verdict::Panels);
  // Scrolling rightwards moves the content, and so the panels, to the left.
  EXPECT_DOUBLE_EQ(swipe.travel().x, -9);
  EXPECT_DOUBLE_EQ(swipe.travel().y, 0);
  // A later vertical wander stays part of the same swipe.
  EXPECT_EQ(swipe.scrolled(t += 0.01, 0, 30), TouchpadSwipe::Verdict::Panels);
  EXPECT_EQ(swipe.scrolled(t += 0.01, 100, 0), TouchpadSwipe::Verdict::Panels);
  EXPECT_DOUBLE_EQ(swipe.travel().x, -109);
  EXPECT_DOUBLE_EQ(swipe.lastStep(), t);
}

TEST(TouchpadSwipe, AVerticalScrollStaysThePagesAndGesturesEndByLiftingOrPausing) {
  TouchpadSwipe swipe;
  double t = 1;
  EXPECT_EQ(swipe.scrolled(t += 0.01, 2, 10), TouchpadSwipe::Verdict::Page);
  // However far it then goes sideways.
  EXPECT_EQ(swipe.scrolled(t += 0.01, 200, 0), TouchpadSwipe::Verdict::Page);
  // A diagonal exactly as wide as high is not a swipe.
  swipe.ended();
  EXPECT_EQ(swipe.scrolled(t += 0.01, 10, 10), TouchpadSwipe::Verdict::Page);
  // The fingers lifted: a new gesture, decided anew.
  swipe.ended();
  EXPECT_EQ(swipe.verdict(), TouchpadSwipe::Verdict::Undecided);
  EXPECT_EQ(swipe.scrolled(t += 0.01, -20, 0), TouchpadSwipe::Verdict::Panels);
  EXPECT_DOUBLE_EQ(swipe.travel().x, 20);
  // Quiet for longer than a pause: over, and the next step begins afresh.
  EXPECT_FALSE(swipe.quietAt(t + TouchpadSwipe::kPause / 2));
  EXPECT_TRUE(swipe.quietAt(t + TouchpadSwipe::kPause * 2));
  EXPECT_EQ(swipe.scrolled(t + TouchpadSwipe::kPause * 2, 0, 20), TouchpadSwipe::Verdict::Page);
  EXPECT_DOUBLE_EQ(swipe.travel().x, 0);
  EXPECT_FALSE(TouchpadSwipe().quietAt(100)) << "no gesture, nothing to end";
}

}  // namespace
}  // namespace gtk
