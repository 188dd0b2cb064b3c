#include "backend/http/url_request.hpp"

#include <strings.h>

#include <algorithm>

namespace backend::http {
namespace {

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::optional<std::string> HeaderFields::get(std::string_view name) const {
  for (const auto& [key, value] : fields_) {
    if (sameName(key, name)) return value;
  }
  return std::nullopt;
}

void HeaderFields::set(std::string_view name, std::string value) {
  for (auto& [key, existing] : fields_) {
    if (sameName(key, name)) {
      existing = std::move(value);
      return;
    }
  }
  fields_.emplace_back(std::string(name), std::move(value));
}

void HeaderFields::remove(std::string_view name) {
  fields_.erase(std::remove_if(fields_.begin(), fields_.end(), [&](const auto& f) { return sameName(f.first, name); }),
                fields_.end());
}

}  // namespace backend::http
