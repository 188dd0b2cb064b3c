#pragma once
// A window holding a container over plain screens, and a toolkit that
// records every animation and runs them to their end on a manual clock.

#include <chrono>
#include <vector>

#include "platform/run_loop.hpp"
#include "platform/ui/headless_toolkit.hpp"
#include "platform/ui/navigation_controller.hpp"
#include "platform/ui/window.hpp"
#include "reveal/reveal_controller.hpp"
#include "support/manual_clock.hpp"

namespace reveal::testing {

class RecordingToolkit final : public platform::ui::Toolkit {
 public:
  RecordingToolkit() { platform::ui::setToolkit(this); }
  ~RecordingToolkit() override { platform::ui::setToolkit(nullptr); }

  std::shared_ptr<platform::ui::WebView> makeWebView(Rect frame) override {
    return platform::ui::HeadlessToolkit::shared().makeWebView(frame);
  }
  void animate(const platform::ui::AnimationRequest& request, std::function<void()> animations,
               std::function<void(bool)> completion) override {
    requests.push_back(request);
    platform::ui::HeadlessToolkit::shared().animate(request, std::move(animations),
                                                    [this, completion = std::move(completion)](bool finished) {
                                                      ++completed;
                                                      if (completion) completion(finished);
                                                    });
  }

  // Moves the clock from one animation's end to the next, running what each
  // end posts, until every animation started so far has completed (and
  // those their completions started, too). False when one never ends.
  bool settle() {
    platform::RunLoop::main().drain();
    while (completed < requests.size()) {
      const auto next = clock.untilNextAlarm();
      if (!next) return false;
      clock.advance(*next);
      platform::RunLoop::main().drain();
    }
    return true;
  }

  test_support::ManualClock clock;
  std::vector<platform::ui::AnimationRequest> requests;
  std::size_t completed = 0;
};

struct Screens {
  std::shared_ptr<platform::ui::ViewController> home = std::make_shared<platform::ui::ViewController>();
  std::shared_ptr<platform::ui::NavigationController> front = platform::ui::NavigationController::create(home);
  std::shared_ptr<platform::ui::ViewController> menu = std::make_shared<platform::ui::ViewController>();
  std::shared_ptr<platform::ui::NavigationController> right = platform::ui::NavigationController::create(menu);
  std::shared_ptr<platform::ui::ViewController> left = std::make_shared<platform::ui::ViewController>();
};

// The front's contained view (the navigation controller's root view).
inline bool frontTakesTouches(RevealController& container) {
  return container.frontViewController()->view()->isUserInteractionEnabled();
}

}  // namespace reveal::testing
