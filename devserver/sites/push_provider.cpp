#include "sites/push_provider.hpp"

#include "inspect/request_log.hpp"

#include <algorithm>

namespace devserver {

void PushProvider::addDevice(const std::string& token) {
  std::string now = RequestLog::now();
  std::lock_guard lock(mutex_);
  if (devices_.size() >= kMaxDevices && !devices_.count(token)) forgetLeastRecent();
  Registration& registration = devices_[token];
  if (registration.count++ == 0) registration.firstSeen = now;
  registration.lastSeen = now;
  registration.lastSeenOrder = nextOrder_++;
}

void PushProvider::forgetLeastRecent() {
  auto oldest = std::min_element(devices_.begin(), devices_.end(), [](const auto& a, const auto& b) {
    return a.second.lastSeenOrder < b.second.lastSeenOrder;
  });
  if (oldest != devices_.end()) devices_.erase(oldest);
}

std::vector<std::string> PushProvider::tokens() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> list;
  for (const auto& [token, registration] : devices_) list.push_back(token);
  return list;
}

nlohmann::json PushProvider::devices() const {
  std::lock_guard lock(mutex_);
  nlohmann::json list = nlohmann::json::array();
  for (const auto& [token, registration] : devices_) {
    list.push_back({{"token", token},
                    {"registrations", registration.count},
                    {"firstSeen", registration.firstSeen},
                    {"lastSeen", registration.lastSeen}});
  }
  return list;
}

void PushProvider::clear() {
  std::lock_guard lock(mutex_);
  devices_.clear();
}

}  // namespace devserver
