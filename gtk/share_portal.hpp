#pragma once
// The desktop's side of sharing a page: the e-mail composer of the desktop
// portal on the session bus, opened with the page's title as the subject and
// its URL as the body. Where no portal answers, nothing happens.
// Asynchronous, never blocks the main loop. Main thread only.

#include <functional>
#include <memory>
#include <string>

namespace gtk {

class SharePortal {
 public:
  SharePortal();
  // Calls in flight are cancelled; their outcome is not delivered.
  ~SharePortal();
  SharePortal(const SharePortal&) = delete;
  SharePortal& operator=(const SharePortal&) = delete;

  // Offers the page to the portal. `done` runs later on the main thread:
  // true when the portal took the page, false when there is no session bus,
  // no portal on it, or the portal refused.
  void share(const std::string& title, const std::string& url, std::function<void(bool taken)> done);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace gtk
