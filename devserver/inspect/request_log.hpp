#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace devserver {

// One request as the server saw it.
struct LoggedRequest {
  std::uint64_t sequence = 0;
  std::string time;  // UTC, "yyyy-MM-ddTHH:mm:ss.SSSZ"
  std::string method;
  std::string host;
  std::string path;    // without the query
  std::string target;  // as on the request line
  bool absoluteForm = false;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // at most kMaxBody bytes
  bool bodyTruncated = false;
  int status = 0;  // the answer's status, once known
};

// The last requests seen, for inspection. Thread-safe.
class RequestLog {
 public:
  static constexpr std::size_t kMaxEntries = 2000;
  static constexpr std::size_t kMaxBody = 64 * 1024;

  // Stores `entry` (its body cut to kMaxBody) and returns its sequence number.
  std::uint64_t add(LoggedRequest entry);
  // Records the answer's status of an earlier entry, if still kept.
  void setStatus(std::uint64_t sequence, int status);
  // Entries oldest first; only those whose host equals `host` when it is not
  // empty, and at most the newest `limit` of them.
  std::vector<LoggedRequest> entries(const std::string& host, std::size_t limit) const;
  void clear();

  // Current time in the format of LoggedRequest::time.
  static std::string now();

 private:
  mutable std::mutex mutex_;
  std::deque<LoggedRequest> entries_;
  std::uint64_t nextSequence_ = 1;
};

}  // namespace devserver
