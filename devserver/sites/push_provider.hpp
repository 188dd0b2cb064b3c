#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace devserver {

// The publisher's own push provider: remembers the device tokens readers
// register with "/pn/addDevice/<token>", at most kMaxDevices (the one seen
// longest ago is forgotten first). Thread-safe.
class PushProvider {
 public:
  static constexpr std::size_t kMaxDevices = 10000;

  // Records `token` (already validated and lower case).
  void addDevice(const std::string& token);
  // Registered tokens, sorted.
  std::vector<std::string> tokens() const;
  // [{"token", "registrations", "firstSeen", "lastSeen"}, ...], sorted by token.
  nlohmann::json devices() const;
  void clear();

 private:
  struct Registration {
    int count = 0;
    std::string firstSeen;
    std::string lastSeen;
    std::uint64_t lastSeenOrder = 0;
  };
  void forgetLeastRecent();
  mutable std::mutex mutex_;
  std::map<std::string, Registration> devices_;
  std::uint64_t nextOrder_ = 1;
};

}  // namespace devserver
