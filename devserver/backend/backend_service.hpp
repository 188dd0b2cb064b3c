#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>
#include <string>

namespace devserver {
class PushGateway;
}

namespace devserver::backend {

// The backend service: the signed JSON command protocol under "/2/<operation>"
// and the file storage host under "/files/". Objects, users, sessions and
// files persist in `dataDir` (SQLite plus a "files" folder). The reader's
// application is known from the start. Thread-safe: requests are served one
// at a time.
class BackendService {
 public:
  // Opens or creates the data in `dataDir`; `push` receives the payloads of
  // "client_push" and must outlive the service. Throws std::runtime_error
  // when the database cannot be opened.
  BackendService(const std::filesystem::path& dataDir, devserver::PushGateway& push);
  ~BackendService();
  BackendService(const BackendService&) = delete;
  BackendService& operator=(const BackendService&) = delete;

  // Answers one request. `signedUrlBase` is the scheme://host[:port] the
  // client built its URL from (the signature covers it). "/2/..." needs a
  // valid signature (else HTTP 401) and a POST; application errors answer
  // HTTP 200 with {"code", "error"}, results {"result": ...}. "/files/..."
  // is the storage host (unsigned). Anything else answers 404. Never throws.
  void handle(const httplib::Request& request, httplib::Response& response, const std::string& signedUrlBase);

  // Every object of a class in its "data" form (with "objectId",
  // "createdAt", "updatedAt"), access lists ignored; for inspection.
  nlohmann::json objectsOfClass(const std::string& className);

  // Makes another application (consumer key and secret) known.
  void addApplication(const std::string& appId, const std::string& clientKey);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace devserver::backend
