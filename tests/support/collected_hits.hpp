#pragma once
// The analytics hits the local services collected, read back through their
// inspection endpoint. Header-only; shared by the window and terminal tests.

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "app/http_get.hpp"
#include "platform/json.hpp"

namespace test_support {

// The wire parameters (names without "&") of the first collected hit whose
// "t" is `hitType`, waiting up to `limit` for one to arrive.
inline std::optional<platform::Value> waitForFirstHit(const std::string& servicesURL, const std::string& hitType,
                                                      std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (const auto answer = app::httpGet(servicesURL + "/_admin/hits")) {
      const auto parsed = platform::json::parse(answer->body);
      const platform::Array* hits = parsed ? parsed.value()["hits"].array() : nullptr;
      for (const platform::Value& hit : hits ? *hits : platform::Array()) {
        if (hit["parameters"]["t"] == platform::Value(hitType)) return hit["parameters"];
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return std::nullopt;
}

}  // namespace test_support
