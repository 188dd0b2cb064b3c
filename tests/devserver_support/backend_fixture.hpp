#pragma once

// Test-side client for BackendService: builds signed httplib requests the
// way the reader's client does, with the tests' own OAuth signer.

#include "backend_service.hpp"
#include "oauth_signer.hpp"
#include "reader_application.hpp"

#include <devserver/push_gateway.hpp>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>

namespace devserver::backend::testing {

using Json = nlohmann::json;

inline constexpr const char* kAppId = kReaderApplicationId;
inline constexpr const char* kClientKey = kReaderClientKey;
inline constexpr const char* kApiBase = "https://api.backend.test";

using test::freshNonce;
using test::nowSeconds;

// The "Authorization" value for a POST to `url` (query parameters given
// decoded in `query`).
inline std::string signRequest(const std::string& url, const std::map<std::string, std::string>& query,
                               const std::string& consumerKey, const std::string& consumerSecret,
                               const std::string& nonce, const std::string& timestamp) {
  return test::oauthHeader(url, consumerKey, consumerSecret, nonce, timestamp, query);
}

struct Answer {
  int status = 0;
  Json body;
};

// A fresh service over a temporary data folder, and signed calls to it.
class BackendFixture : public ::testing::Test {
 protected:
  BackendFixture() {
    std::random_device random;
    dataDir_ = std::filesystem::temp_directory_path() /
               ("vv-backend-test-" + std::to_string(random()) + std::to_string(random()));
    service_ = std::make_unique<BackendService>(dataDir_, push_);
  }
  ~BackendFixture() override {
    service_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dataDir_, ignored);
  }

  // A new service over the same data, bounded by `limits`.
  void restartWith(const ServiceLimits& limits) {
    service_.reset();
    service_ = std::make_unique<BackendService>(dataDir_, push_, limits);
  }

  // Sends a raw request and parses the JSON answer (null when not JSON).
  Answer send(httplib::Request request, const std::string& base = kApiBase) {
    httplib::Response response;
    service_->handle(request, response, base);
    Answer answer{response.status, Json::parse(response.body, nullptr, false)};
    return answer;
  }

  static httplib::Request signedRequest(const std::string& operation, const std::string& body,
                                        const std::string& base = kApiBase) {
    httplib::Request request;
    request.method = "POST";
    request.path = "/2/" + operation;
    request.target = request.path;
    request.body = body;
    request.set_header("Content-Type", "application/json; charset=utf-8");
    request.set_header("Authorization", signRequest(base + request.path, {}, kAppId, kClientKey, freshNonce(),
                                                    nowSeconds()));
    return request;
  }

  // Runs one command; `token` becomes "session_token" when given.
  Answer call(const std::string& operation, Json params, const std::string& token = "") {
    params["uuid"] = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";
    params["v"] = "i1.4.2";
    params["iid"] = "0A1B2C3D-0000-4000-8000-000000000001";
    if (!token.empty()) params["session_token"] = token;
    return send(signedRequest(operation, params.dump()));
  }

  // The "result" of a command that must succeed.
  Json result(const std::string& operation, Json params, const std::string& token = "") {
    Answer answer = call(operation, std::move(params), token);
    EXPECT_EQ(answer.status, 200);
    EXPECT_TRUE(answer.body.contains("result")) << answer.body.dump();
    return answer.body.value("result", Json());
  }

  // The error code of a command that must fail as an application error.
  int errorCode(const std::string& operation, Json params, const std::string& token = "") {
    Answer answer = call(operation, std::move(params), token);
    EXPECT_EQ(answer.status, 200);
    EXPECT_TRUE(answer.body.contains("error")) << answer.body.dump();
    return answer.body.value("code", 0);
  }

  // Creates an object and returns its object id.
  std::string create(const std::string& className, Json data, const std::string& token = "") {
    Json saved = result("create", {{"classname", className}, {"data", std::move(data)}}, token);
    return saved["data"].value("objectId", "");
  }

  Json get(const std::string& className, const std::string& objectId, const std::string& token = "") {
    return result("get", {{"classname", className}, {"data", {{"objectId", objectId}}}}, token)["data"];
  }

  // Signs up a user and returns its session token.
  std::string signUp(const std::string& username, const std::string& password = "secret",
                     std::string* userId = nullptr) {
    Json answer =
        result("user_signup", {{"classname", "_User"}, {"data", {{"username", username}}}, {"user_password", password}});
    if (userId) *userId = answer["data"].value("objectId", "");
    return answer.value("session_token", "");
  }

  static Json pointer(const std::string& className, const std::string& objectId) {
    return {{"__type", "Pointer"}, {"className", className}, {"objectId", objectId}};
  }

  PushGateway push_;
  std::filesystem::path dataDir_;
  std::unique_ptr<BackendService> service_;
};

}  // namespace devserver::backend::testing
