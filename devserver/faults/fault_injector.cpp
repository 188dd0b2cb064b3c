#include "faults/fault_injector.hpp"

#include <algorithm>

namespace devserver {

FaultRule FaultInjector::add(std::string host, int count, Fault fault) {
  std::lock_guard lock(mutex_);
  FaultRule rule{nextId_++, std::move(host), count, fault};
  rules_.push_back(rule);
  return rule;
}

std::optional<Fault> FaultInjector::take(const std::string& host) {
  std::lock_guard lock(mutex_);
  auto rule = std::find_if(rules_.begin(), rules_.end(),
                           [&](const FaultRule& candidate) { return candidate.host == host || candidate.host == "*"; });
  if (rule == rules_.end()) return std::nullopt;
  Fault fault = rule->fault;
  if (--rule->remaining <= 0) rules_.erase(rule);
  return fault;
}

std::vector<FaultRule> FaultInjector::rules() const {
  std::lock_guard lock(mutex_);
  return rules_;
}

void FaultInjector::clear() {
  std::lock_guard lock(mutex_);
  rules_.clear();
}

}  // namespace devserver
