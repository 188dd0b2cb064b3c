#pragma once

#include <httplib.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "devserver/push_gateway.hpp"

namespace devserver {

// The reader's built-in backend application.
inline constexpr const char* kReaderApplicationId = "Qx7mTfa2Lr9WcYh3NbVe8KpZs1DuGo6JiRl4MwEn";
inline constexpr const char* kReaderClientKey = "Hc2vRk8TyBn5WqLm3ZxAe7JfUd9GsPo1KiNt6VaY";

// The seam between the server and the backend service ("api.backend.test",
// "files.backend.test"). While the service is not part of the build, every
// backend request answers 503 with a message saying so.
class BackendBridge {
 public:
  BackendBridge(const std::filesystem::path& dataDir, PushGateway& push);
  ~BackendBridge();
  BackendBridge(const BackendBridge&) = delete;
  BackendBridge& operator=(const BackendBridge&) = delete;

  // True when the backend service is built in.
  bool available() const;
  // Answers one backend request; `signedUrlBase` is scheme://host[:port] the
  // client signed against.
  void handle(const httplib::Request& request, httplib::Response& response, const std::string& signedUrlBase);
  // The stored objects of a class, or nothing without a backend service.
  std::optional<nlohmann::json> objectsOfClass(const std::string& className);
  void addApplication(const std::string& applicationId, const std::string& clientKey);

 private:
  struct Service;
  std::unique_ptr<Service> service_;
};

}  // namespace devserver
