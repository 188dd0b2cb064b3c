#include "faults/fault_injector.hpp"

#include <algorithm>

namespace devserver {

std::optional<FaultRule> FaultInjector::add(std::string host, int count, Fault fault, std::string pathPrefix) {
  std::lock_guard lock(mutex_);
  if (rules_.size() >= kMaxRules) return std::nullopt;
  FaultRule rule{nextId_++, std::move(host), count, fault, std::move(pathPrefix)};
  rules_.push_back(rule);
  return rule;
}

std::optional<Fault> FaultInjector::take(const std::string& host, const std::string& path) {
  std::lock_guard lock(mutex_);
  auto rule = std::find_if(rules_.begin(), rules_.end(), [&](const FaultRule& candidate) {
    return (candidate.host == host || candidate.host == "*") && path.rfind(candidate.pathPrefix, 0) == 0;
  });
  if (rule == rules_.end()) return std::nullopt;
  Fault fault = rule->fault;
  if (--rule->remaining <= 0) rules_.erase(rule);
  return fault;
}

std::vector<FaultRule> FaultInjector::rules() const {
  std::lock_guard lock(mutex_);
  return rules_;
}

std::chrono::milliseconds FaultInjector::delayTotal() const {
  std::lock_guard lock(mutex_);
  std::chrono::milliseconds total{0};
  for (const auto& rule : rules_) total += rule.fault.delay * rule.remaining;
  return total;
}

void FaultInjector::clear() {
  std::lock_guard lock(mutex_);
  rules_.clear();
}

}  // namespace devserver
