#pragma once

// Test-side client for BackendService: builds signed httplib requests the
// way the reader's client does, with its own OAuth signer (checked against
// independently computed vectors in request_signature_test.cpp).

#include "backend_service.hpp"

#include <devserver/push_gateway.hpp>

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>

namespace devserver::backend::testing {

using Json = nlohmann::json;

inline constexpr const char* kAppId = "Qx7mTfa2Lr9WcYh3NbVe8KpZs1DuGo6JiRl4MwEn";
inline constexpr const char* kClientKey = "Hc2vRk8TyBn5WqLm3ZxAe7JfUd9GsPo1KiNt6VaY";
inline constexpr const char* kApiBase = "https://api.backend.test";

inline std::string rfc3986(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// The "Authorization" value for a POST to `url` (query parameters given
// decoded in `query`), with a fixed nonce and timestamp.
inline std::string signRequest(const std::string& url, const std::map<std::string, std::string>& query,
                               const std::string& consumerKey, const std::string& consumerSecret,
                               const std::string& nonce, const std::string& timestamp) {
  std::map<std::string, std::string> oauth{{"oauth_nonce", nonce},
                                           {"oauth_timestamp", timestamp},
                                           {"oauth_signature_method", "HMAC-SHA1"},
                                           {"oauth_version", "1.0"},
                                           {"oauth_consumer_key", consumerKey}};
  std::map<std::string, std::string> all = oauth;
  for (const auto& [k, v] : query) all[k] = v;
  std::map<std::string, std::string> encoded;
  for (const auto& [k, v] : all) encoded[rfc3986(k)] = rfc3986(v);
  std::string parameters;
  for (const auto& [k, v] : encoded) parameters += (parameters.empty() ? "" : "&") + k + "=" + v;
  std::string base = url.substr(0, url.find('?'));
  std::string text = "POST&" + rfc3986(base) + "&" + rfc3986(parameters);
  std::string key = rfc3986(consumerSecret) + "&";
  unsigned char digest[20];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(text.data()),
       text.size(), digest, &length);
  unsigned char base64[64];
  EVP_EncodeBlock(base64, digest, static_cast<int>(length));
  oauth["oauth_signature"] = reinterpret_cast<const char*>(base64);
  std::string header = "OAuth ";
  bool first = true;
  for (const auto& [k, v] : oauth) {
    header += (first ? "" : ", ") + rfc3986(k) + "=\"" + rfc3986(v) + "\"";
    first = false;
  }
  return header;
}

inline std::string freshNonce() {
  static std::atomic<int> counter{0};
  return "NONCE-" + std::to_string(++counter);
}

inline std::string nowSeconds() {
  return std::to_string(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
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
