#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace devserver {

// What to do to one request instead of (or before) answering it normally.
struct Fault {
  int status = 0;                         // answer this status instead (0: answer normally)
  std::chrono::milliseconds delay{0};     // wait this long before answering
  bool closeMidAnswer = false;            // send part of the answer, then close the connection
};

// A standing order: the next `remaining` requests to `host` ("*" for every
// host) whose path starts with `pathPrefix` (empty for every path) get `fault`.
struct FaultRule {
  std::uint64_t id = 0;
  std::string host;
  int remaining = 0;
  Fault fault;
  std::string pathPrefix;
};

// Holds fault rules for tests. Thread-safe.
class FaultInjector {
 public:
  static constexpr std::size_t kMaxRules = 1000;

  // Adds a rule and returns it with its id, or nothing when kMaxRules stand
  // already. Rules for the same host apply in the order they were added,
  // each until its count is used up.
  std::optional<FaultRule> add(std::string host, int count, Fault fault, std::string pathPrefix = {});
  // Takes one use of the first rule matching `host` (exact, lower case, or
  // "*") and `path`.
  std::optional<Fault> take(const std::string& host, const std::string& path);
  std::vector<FaultRule> rules() const;
  // The delay the standing rules still hold: the sum of delay x remaining.
  std::chrono::milliseconds delayTotal() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<FaultRule> rules_;
  std::uint64_t nextId_ = 1;
};

}  // namespace devserver
