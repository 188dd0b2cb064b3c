#pragma once
// The analytics hits the local services collected, read back through their
// inspection endpoint. Header-only; shared by the window and terminal tests.

#include <chrono>
#include <optional>
#include <string>

#include "app/http_get.hpp"
#include "platform/json.hpp"
#include "support/eventually.hpp"

namespace test_support {

// The wire parameters (names without "&") of the first collected hit whose
// "t" is `hitType`, waiting up to `limit` for one to arrive.
inline std::optional<platform::Value> waitForFirstHit(const std::string& servicesURL, const std::string& hitType,
                                                      std::chrono::seconds limit = std::chrono::seconds(60)) {
  std::optional<platform::Value> found;
  eventually(
      [&] {
        const auto answer = app::httpGet(servicesURL + "/_admin/hits");
        if (!answer) return false;
        const auto parsed = platform::json::parse(answer->body);
        const platform::Array* hits = parsed ? parsed.value()["hits"].array() : nullptr;
        for (const platform::Value& hit : hits ? *hits : platform::Array()) {
          if (hit["parameters"]["t"] != platform::Value(hitType)) continue;
          found = hit["parameters"];
          return true;
        }
        return false;
      },
      limit, std::chrono::milliseconds(100));
  return found;
}

}  // namespace test_support
