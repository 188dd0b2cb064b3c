#include "backend_bridge.hpp"

#include "backend/backend_service.hpp"

namespace devserver {

BackendBridge::BackendBridge(const std::filesystem::path& dataDir, PushGateway& push)
    : service_(std::make_unique<backend::BackendService>(dataDir, push)) {}

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

}  // namespace devserver
