#include "backend_bridge.hpp"

#include "backend_service/backend_service.hpp"

namespace devserver {
namespace {

backend::ServiceLimits limitsWith(std::chrono::seconds signatureWindow) {
  backend::ServiceLimits limits;
  limits.signatureWindow = signatureWindow;
  return limits;
}

}  // namespace

BackendBridge::BackendBridge(const std::filesystem::path& dataDir, PushGateway& push,
                             std::chrono::seconds signatureWindow)
    : service_(std::make_unique<backend::BackendService>(dataDir, push, limitsWith(signatureWindow))) {}

BackendBridge::~BackendBridge() = default;

void BackendBridge::handle(const httplib::Request& request, httplib::Response& response,
                           const std::string& signedUrlBase) {
  service_->handle(request, response, signedUrlBase);
}

nlohmann::json BackendBridge::objectsOfClass(const std::string& className) {
  return service_->objectsOfClass(className);
}

void BackendBridge::addApplication(const std::string& applicationId, const std::string& clientKey) {
  service_->addApplication(applicationId, clientKey);
}

bool BackendBridge::addAuthProvider(const std::string& name) { return service_->addAuthProvider(name); }

std::vector<std::string> BackendBridge::authProviders() { return service_->authProviders(); }

}  // namespace devserver
