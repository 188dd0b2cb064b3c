// Feeds arbitrary bodies to the backend service's commands: the first byte
// picks the operation, the rest is the request body, signed like a client's.
#include "backend_service.hpp"
#include "reader_application.hpp"
#include "request_signature.hpp"

#include <devserver/push_gateway.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ctime>
#include <string>
#include <unistd.h>

namespace {

using devserver::backend::kReaderApplicationId;
using devserver::backend::kReaderClientKey;
constexpr const char* kOperations[] = {"create", "update", "delete", "get", "find", "multi", "client_push",
                                       "upload_file", "user_signup", "user_signup_or_login", "user_login",
                                       "user_request_password_reset", "client_me"};

std::string authorization(const std::string& url) {
  using namespace devserver::backend;
  // A fresh nonce and the current time, or the service refuses it as a replay.
  static std::uint64_t counter = 0;
  std::map<std::string, std::string> oauth{{"oauth_nonce", "FUZZ-" + std::to_string(++counter)},
                                           {"oauth_timestamp", std::to_string(time(nullptr))},
                                           {"oauth_signature_method", "HMAC-SHA1"},
                                           {"oauth_version", "1.0"},
                                           {"oauth_consumer_key", kReaderApplicationId}};
  std::string header = "OAuth oauth_signature=\"" + percentEncode(oauthSignature("POST", url, oauth, kReaderClientKey)) + "\"";
  for (const auto& [name, value] : oauth) header += ", " + name + "=\"" + percentEncode(value) + "\"";
  return header;
}

devserver::backend::BackendService& service() {
  static devserver::PushGateway push;
  static auto dir = std::filesystem::temp_directory_path() / ("vv-fuzz-backend-" + std::to_string(getpid()));
  // A small budget per command: stored objects pile up over the runs, and
  // each command may otherwise spend its full second on them.
  static devserver::backend::ServiceLimits limits = [] {
    devserver::backend::ServiceLimits small;
    small.command.time = std::chrono::milliseconds(20);
    small.command.steps = 20000;
    return small;
  }();
  static devserver::backend::BackendService instance(dir, push, limits);
  return instance;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string operation = kOperations[data[0] % std::size(kOperations)];
  httplib::Request request;
  request.method = "POST";
  request.path = "/2/" + operation;
  request.target = request.path;
  request.body.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  request.set_header("Authorization", authorization("https://api.backend.test" + request.path));
  httplib::Response response;
  service().handle(request, response, "https://api.backend.test");
  // Every answer is JSON with "result" or "code" and "error".
  auto answer = nlohmann::json::parse(response.body, nullptr, false);
  if (answer.is_discarded() || !(answer.contains("result") || (answer.contains("code") && answer.contains("error")))) {
    __builtin_trap();
  }
  return 0;
}
