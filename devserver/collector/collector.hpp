#pragma once

#include <httplib.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "collector/hit_parser.hpp"
#include "http/request_target.hpp"

namespace devserver {

// The analytics collection service: "/collect" by GET (one hit in the query)
// or POST (one hit per line of the body; the HTTP layer has already undone a
// "gzip" or "deflate" Content-Encoding). Keeps the hits for inspection.
// Thread-safe.
class Collector {
 public:
  // The oldest hits go first beyond either bound.
  static constexpr std::size_t kMaxHits = 10000;
  static constexpr std::size_t kMaxHitBytes = 32 * 1024 * 1024;

  // Handles one request for a collector host.
  void handle(const httplib::Request& request, const RequestTarget& target, httplib::Response& response);

  // The kept hits, oldest first, as JSON objects with "sequence", "time",
  // "host", "method", "encoding", "line", "parameters" (object; a repeated
  // name keeps its last value), "parameterList" ([[name, value], ...]) and
  // "problems".
  nlohmann::json hits() const;
  void clear();

 private:
  struct StoredHit {
    std::uint64_t sequence;
    std::string time;
    std::string host;
    std::string method;
    std::string encoding;
    CollectedHit hit;
    std::size_t bytes;
  };
  void keep(StoredHit hit);

  mutable std::mutex mutex_;
  std::deque<StoredHit> hits_;
  std::size_t hitBytes_ = 0;
  std::uint64_t nextSequence_ = 1;
};

}  // namespace devserver
