#pragma once
// Where the configured application id and client key are kept. The
// configuration entry point of the command layer stores them here (and then
// checks the caches, starts the offline queue and registers subclasses);
// everything below it reads them here.

#include <optional>
#include <string>
#include <string_view>

namespace backend {

class ClientConfiguration {
 public:
  ClientConfiguration() = delete;

  // Stores copies of both, replacing earlier values. Thread-safe.
  static void store(std::string_view applicationId, std::string_view clientKey);
  // Forgets the configuration (tests, a new start).
  static void reset();
  static bool isConfigured();
  // Raise InternalInconsistencyException "You have to call
  // setApplicationId:clientKey: on Backend to configure Backend." when the
  // client has not been configured.
  static std::string applicationId();
  static std::string clientKey();
};

}  // namespace backend
