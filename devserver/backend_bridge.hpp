#pragma once

#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "devserver/push_gateway.hpp"

namespace devserver {

namespace backend {
class BackendService;
}

// Where the server meets the backend service ("api.backend.test",
// "files.backend.test", and "/2/..." on the server's own address). Keeps the
// service's headers out of the rest of the server.
class BackendBridge {
 public:
  // Opens the service's data in `dataDir`; "client_push" payloads go to
  // `push`. Throws std::runtime_error when the data cannot be opened.
  BackendBridge(const std::filesystem::path& dataDir, PushGateway& push, std::chrono::seconds signatureWindow);
  ~BackendBridge();
  BackendBridge(const BackendBridge&) = delete;
  BackendBridge& operator=(const BackendBridge&) = delete;

  // Answers one backend request; `signedUrlBase` is scheme://host[:port] the
  // client signed against.
  void handle(const httplib::Request& request, httplib::Response& response, const std::string& signedUrlBase);
  // The stored objects of a class, for inspection.
  nlohmann::json objectsOfClass(const std::string& className);
  void addApplication(const std::string& applicationId, const std::string& clientKey);
  // Makes an authentication provider known to sign-up and log-in; false
  // for a bad name or when the service knows its most providers.
  bool addAuthProvider(const std::string& name);
  std::vector<std::string> authProviders();

 private:
  std::unique_ptr<backend::BackendService> service_;
};

}  // namespace devserver
