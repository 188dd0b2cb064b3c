#include "app/app_header.hpp"

#include <algorithm>

#include "platform/bundle.hpp"

namespace app {

bool headerIsNeeded(std::string_view url, std::span<const std::string> domains) {
  return std::any_of(domains.begin(), domains.end(),
                     [&](const std::string& domain) { return url.find(domain) != std::string_view::npos; });
}

std::string appHeaderValue() { return platform::Bundle::main().version().value_or(""); }

}  // namespace app
