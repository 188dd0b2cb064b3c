#include "backend_bridge.hpp"

#include "http/answers.hpp"

namespace devserver {

// Filled in once the backend service is built in.
struct BackendBridge::Service {};

BackendBridge::BackendBridge(const std::filesystem::path& dataDir, PushGateway& push) {}

BackendBridge::~BackendBridge() = default;

bool BackendBridge::available() const { return service_ != nullptr; }

void BackendBridge::handle(const httplib::Request& request, httplib::Response& response,
                           const std::string& signedUrlBase) {
  answerError(response, 503, "backend service not built");
}

std::optional<nlohmann::json> BackendBridge::objectsOfClass(const std::string& className) { return std::nullopt; }

void BackendBridge::addApplication(const std::string& applicationId, const std::string& clientKey) {}

}  // namespace devserver
