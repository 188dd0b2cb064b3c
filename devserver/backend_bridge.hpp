#pragma once

#include <httplib.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "devserver/push_gateway.hpp"

namespace devserver {

namespace backend {
class BackendService;
}

// The reader's built-in backend application.
inline constexpr const char* kReaderApplicationId = "Qx7mTfa2Lr9WcYh3NbVe8KpZs1DuGo6JiRl4MwEn";
inline constexpr const char* kReaderClientKey = "Hc2vRk8TyBn5WqLm3ZxAe7JfUd9GsPo1KiNt6VaY";

// Where the server meets the backend service ("api.backend.test",
// "files.backend.test", and "/2/..." on the server's own address). Keeps the
// service's headers out of the rest of the server.
class BackendBridge {
 public:
  // Opens the service's data in `dataDir`; "client_push" payloads go to
  // `push`. Throws std::runtime_error when the data cannot be opened.
  BackendBridge(const std::filesystem::path& dataDir, PushGateway& push);
  ~BackendBridge();
  BackendBridge(const BackendBridge&) = delete;
  BackendBridge& operator=(const BackendBridge&) = delete;

  // Answers one backend request; `signedUrlBase` is scheme://host[:port] the
  // client signed against.
  void handle(const httplib::Request& request, httplib::Response& response, const std::string& signedUrlBase);
  // The stored objects of a class, for inspection.
  nlohmann::json objectsOfClass(const std::string& className);
  void addApplication(const std::string& applicationId, const std::string& clientKey);

 private:
  std::unique_ptr<backend::BackendService> service_;
};

}  // namespace devserver
