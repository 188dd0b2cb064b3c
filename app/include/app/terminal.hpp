#pragma once
// The reader's terminal mode: runs the application on the headless UI and
// drives it with one command per line, printing one line per event (page
// requests with their app header, finished loads, hits, alerts, screens
// pushed and popped, container state changes). Main thread only.

#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "app/terminal_command.hpp"
#include "platform/value.hpp"

namespace app {
class AppDelegate;
}

namespace app::terminal {

class Terminal {
 public:
  // Prints to `out`, which must outlive the terminal. Installs its observers
  // (the UI toolkit, web loads, trackers) until destroyed.
  explicit Terminal(std::ostream& out);
  ~Terminal();
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Launches the application with a fresh delegate and waits until the first
  // pages have loaded (or the wait times out).
  void launch(const platform::Value& launchOptions = platform::Value());

  // Runs one input line; answers false once the program should end (quit,
  // or the no-network alert dismissed).
  bool executeLine(std::string_view line);
  bool execute(const Command& command);

  // Runs the main queue until pages and animations have settled (at most
  // `timeoutSeconds`), printing container state changes.
  void settle(double timeoutSeconds = 15);

  // The status the process should end with once execute answered false.
  int exitStatus() const { return exitStatus_; }
  const std::shared_ptr<AppDelegate>& delegate() const { return delegate_; }

  struct Observers;

 private:
  void print(const std::string& line);

  std::ostream& out_;
  std::shared_ptr<AppDelegate> delegate_;
  std::unique_ptr<Observers> observers_;
  bool ended_ = false;
  int exitStatus_ = 0;
};

}  // namespace app::terminal
