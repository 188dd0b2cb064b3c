#pragma once

#include <stdexcept>
#include <string>

namespace devserver::backend {

// Error codes the service answers with; the clients read them as the
// backend's own codes.
namespace code {
inline constexpr int kInternal = 1;
inline constexpr int kObjectNotFound = 101;
inline constexpr int kInvalidQuery = 102;
inline constexpr int kInvalidClassName = 103;
inline constexpr int kMissingObjectId = 104;
inline constexpr int kInvalidKeyName = 105;
inline constexpr int kInvalidPointer = 106;
inline constexpr int kInvalidJson = 107;
inline constexpr int kIncorrectType = 111;
inline constexpr int kInvalidChannelName = 112;
inline constexpr int kObjectTooLarge = 116;
inline constexpr int kOperationForbidden = 119;
inline constexpr int kInvalidFileName = 122;
// Over a request's budget of work or a cap on its size; final, not retried.
inline constexpr int kRequestTooExpensive = 124;
inline constexpr int kMissingInstallationId = 135;
inline constexpr int kDuplicateValue = 137;
inline constexpr int kInvalidRoleName = 139;
inline constexpr int kUsernameMissing = 200;
inline constexpr int kPasswordMissing = 201;
inline constexpr int kUsernameTaken = 202;
inline constexpr int kEmailTaken = 203;
inline constexpr int kEmailMissing = 204;
inline constexpr int kEmailNotFound = 205;
inline constexpr int kSessionMissing = 206;
inline constexpr int kInvalidSessionToken = 209;
inline constexpr int kUnsupportedProvider = 252;
}  // namespace code

// An application error: answered as {"code": code, "error": message} with
// HTTP 200, so the client reads the service's own code.
class BackendError : public std::runtime_error {
 public:
  BackendError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

}  // namespace devserver::backend
