#pragma once
// A session bus of the test's own (a dbus-daemon child on a socket in a
// temporary directory) and, on it, a stand-in for the desktop portal's
// e-mail composer that records what it was asked to compose. The real portal
// cannot run on a virtual display.

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/scratch_directory.hpp"

namespace gui_test {

class PrivateSessionBus {
 public:
  // Starts the daemon and waits (up to 30 s) for its socket; throws
  // std::runtime_error when it does not come up.
  PrivateSessionBus();
  // Ends the daemon.
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  // The value for DBUS_SESSION_BUS_ADDRESS.
  const std::string& address() const { return address_; }

 private:
  test_support::ScratchDirectory directory_;
  std::string address_;
  pid_t daemon_ = -1;
};

struct ComposedEmail {
  std::string subject;
  std::string body;
};

class FakeEmailPortal {
 public:
  // Owns the portal's name on the bus at `address` and answers on a thread
  // of its own; throws std::runtime_error when it cannot.
  explicit FakeEmailPortal(const std::string& address);
  // Leaves the bus.
  ~FakeEmailPortal();
  FakeEmailPortal(const FakeEmailPortal&) = delete;
  FakeEmailPortal& operator=(const FakeEmailPortal&) = delete;

  // Gives up the portal's name: from then on the bus has no portal.
  void leave();

  // The e-mails asked for so far (any thread).
  std::vector<ComposedEmail> composed() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace gui_test
