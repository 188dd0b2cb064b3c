#pragma once
// The shell's own plain HTTP requests (menu configuration, push provider),
// outside any web view.

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace app {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct HttpAnswer {
  long status = 0;
  std::string body;
};

// The largest body read; a longer answer counts as failed.
inline constexpr std::size_t kMaxAnswerBytes = 8 * 1024 * 1024;

// A blocking GET on the calling thread, sent through the service routing in
// force. nullopt when the exchange fails (no connection, timeout, body too
// large, malformed URL); any HTTP status counts as an answer.
std::optional<HttpAnswer> httpGet(const std::string& url, const HeaderList& headers = {},
                                  std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Ends every GET in progress on any thread (each answers nullopt within
// about a second), so a quitting process does not wait out their timeouts.
// GETs started afterwards run as usual.
void cancelOutstandingHttpGets();

}  // namespace app
