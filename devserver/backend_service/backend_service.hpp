#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "command_budget.hpp"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace devserver {
class PushGateway;
}

namespace devserver::backend {

// The bounds the service keeps to, whatever its clients send.
struct ServiceLimits {
  // How far a request's "oauth_timestamp" may be from the clock, either way.
  std::chrono::seconds signatureWindow{std::chrono::minutes(15)};
  CommandLimits command;
  // The most bytes the stored files may take together.
  std::uint64_t fileQuotaBytes = 1024ull * 1024 * 1024;
};

// The backend service: the signed JSON command protocol under "/2/<operation>"
// and the file storage host under "/files/". Objects, users, sessions and
// files persist in `dataDir` (SQLite plus a "files" folder). The reader's
// application is known from the start. Thread-safe: commands run one at a
// time, their signature checks and JSON reading and writing alongside.
class BackendService {
 public:
  // Opens or creates the data in `dataDir`; `push` receives the payloads of
  // "client_push" and must outlive the service. Throws std::runtime_error
  // when the database cannot be opened.
  BackendService(const std::filesystem::path& dataDir, devserver::PushGateway& push, ServiceLimits limits = {});
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

  // Makes an authentication provider known besides "anonymous", so sign-up
  // and log-in accept its "auth_data". False (and nothing changes) for a
  // name that is not a key name, or when kMaxAuthProviders are known.
  bool addAuthProvider(const std::string& name);
  // The known providers, sorted.
  std::vector<std::string> authProviders();
  static constexpr std::size_t kMaxAuthProviders = 64;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace devserver::backend
