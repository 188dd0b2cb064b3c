#include "platform/ui/url_request.hpp"

#include <algorithm>
#include <cctype>

namespace platform::ui {

namespace {

bool sameField(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

bool hasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

URLRequest::URLRequest(std::string url, double timeoutSeconds) : url_(std::move(url)), timeout_(timeoutSeconds) {}

bool URLRequest::setValue(std::string value, std::string_view field) {
  // A line break would let a value smuggle further header lines into the request.
  if (field.empty() || hasLineBreak(field) || hasLineBreak(value) || field.find(':') != std::string_view::npos) {
    return false;
  }
  for (auto& [name, existing] : headers_) {
    if (sameField(name, field)) {
      existing = std::move(value);
      return true;
    }
  }
  headers_.emplace_back(std::string(field), std::move(value));
  return true;
}

std::optional<std::string> URLRequest::valueForHTTPHeaderField(std::string_view field) const {
  for (const auto& [name, value] : headers_) {
    if (sameField(name, field)) return value;
  }
  return std::nullopt;
}

}  // namespace platform::ui
