#pragma once
// The window mode's command channel: the terminal mode's commands, read one
// per line from stdin, carried out on the live window (taps and drags go
// through the canvas like a pointer's), each answered with "done <command>"
// once pages and animations have settled; plus "screenshot PATH", "tap X Y"
// and "links" (the page's link URLs). Prints what a person would notice (screens pushed and popped,
// pages loaded, alerts, shares, refreshes) one line each. Main thread only.

#include <deque>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace app {
class AppDelegate;
}

namespace gtk {

enum class Shortcut;

class FrontEnd;

class ControlChannel {
 public:
  // `quit` ends the program with a status. All arguments must outlive the channel.
  ControlChannel(FrontEnd& frontEnd, std::shared_ptr<app::AppDelegate> delegate, std::ostream& out,
                 std::function<void(int status)> quit);
  ~ControlChannel();
  ControlChannel(const ControlChannel&) = delete;
  ControlChannel& operator=(const ControlChannel&) = delete;

  // After the launch: prints "ready" once the first page has settled, then
  // reads stdin. The end of stdin only stops the reading.
  void start();
  // Stops reading and drops queued commands.
  void stop();

  // Carries out a keyboard shortcut on the screens (alerts, the sidebar,
  // web history, home, search); answers whether it applied.
  bool perform(Shortcut shortcut);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace gtk
