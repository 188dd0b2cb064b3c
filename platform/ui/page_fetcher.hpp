#pragma once
// One blocking page fetch for the headless web view, over libcurl. Runs on a
// background thread; honours platform::ServiceRouting and follows redirects
// itself so that routing applies to every hop.

#include <atomic>
#include <memory>
#include <string>

#include "platform/error.hpp"
#include "platform/ui/url_request.hpp"

namespace platform::ui::detail {

struct FetchedPage {
  bool ok = false;
  int status = 0;
  std::string finalURL;  // the logical URL after redirects (routing undone)
  std::string body;
  Error error;  // when !ok
};

// Largest body kept; the rest of a longer page is not read.
inline constexpr std::size_t kMaxPageBytes = 8 * 1024 * 1024;

// Fetches `request` (its method, header fields and body). `cancelled` is
// polled during the transfer; a cancelled fetch fails with code -999.
// Failures use the domain "NetworkError" with -1001 timeout, -1003 host not
// found, -1004 cannot connect, -1002 unsupported URL, -1007 too many
// redirects, -1 anything else.
FetchedPage fetchPage(const URLRequest& request, const std::shared_ptr<std::atomic<bool>>& cancelled);

}  // namespace platform::ui::detail
