#pragma once
// Where hits go: the collection endpoints, and how a program sends their
// requests somewhere else (the reader routes them to its local services).

#include <functional>
#include <string>
#include <vector>

namespace analytics {

inline constexpr const char* kSecureCollectURL = "https://ssl.analytics.test/collect";
inline constexpr const char* kPlainCollectURL = "http://www.analytics.test/collect";

// Where a request really goes: the rewritten URL and the headers to add
// ("Name: value"), such as the original Host.
struct Route {
  std::string url;
  std::vector<std::string> extraHeaders;
};
using RequestRouter = std::function<Route(const std::string& url)>;

}  // namespace analytics
