#include "glib_main_queue.hpp"

#include <glib.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace gtk {
namespace {

// Iterates the default context until `done` holds.
template <class Done>
void iterateUntil(Done done) {
  while (!done()) g_main_context_iteration(nullptr, TRUE);
}

TEST(GlibMainQueue, RunsWorkFromOtherThreadsOnTheLoopInOrder) {
  GlibMainQueue queue;
  std::vector<int> ran;
  std::vector<bool> onMain;
  std::thread poster([&] {
    for (int i = 0; i < 3; ++i) {
      queue.post([&, i] {
        ran.push_back(i);
        onMain.push_back(queue.runsOnCurrentThread());
      });
    }
  });
  poster.join();
  EXPECT_TRUE(ran.empty()) << "posted work waits for the loop";
  iterateUntil([&] { return ran.size() == 3; });
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(onMain, (std::vector<bool>{true, true, true}));
}

TEST(GlibMainQueue, DelayedWorkRunsAfterWorkPostedLater) {
  GlibMainQueue queue;
  std::vector<std::string> ran;
  queue.postDelayed(std::chrono::milliseconds(50), [&] { ran.push_back("delayed"); });
  queue.post([&] { ran.push_back("now"); });
  iterateUntil([&] { return ran.size() == 2; });
  EXPECT_EQ(ran, (std::vector<std::string>{"now", "delayed"}));
}

}  // namespace
}  // namespace gtk
