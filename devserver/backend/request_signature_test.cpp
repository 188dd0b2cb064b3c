#include "request_signature.hpp"

#include "backend_test_support.hpp"

#include <gtest/gtest.h>

namespace devserver::backend {
namespace {

using testing::kAppId;
using testing::kClientKey;

// Vectors computed once with python3's hmac/hashlib/base64 and
// urllib.parse.quote(safe="-._~"), independent of this code and the clients.
constexpr const char* kNonce = "4E1F6A4B-0C1D-4E2F-9A3B-5C6D7E8F9A0B";
constexpr const char* kTimestamp = "1700000000";

std::map<std::string, std::string> oauthParameters() {
  return {{"oauth_nonce", kNonce},
          {"oauth_timestamp", kTimestamp},
          {"oauth_signature_method", "HMAC-SHA1"},
          {"oauth_version", "1.0"},
          {"oauth_consumer_key", kAppId}};
}

TEST(RequestSignature, MatchesIndependentVectors) {
  auto parameters = oauthParameters();
  EXPECT_EQ(oauthSignature("POST", "https://api.backend.test/2/find", parameters, kClientKey),
            "AOn27NCmb7ZzvyEBA+HL15Zqwgk=");
  EXPECT_EQ(oauthSignature("POST", "http://127.0.0.1:8080/2/create", parameters, kClientKey),
            "xAdtElZ1lVgjELSN6bXoLx4PcPw=");
  parameters["b"] = "x y";
  parameters["a"] = "1~";
  EXPECT_EQ(oauthSignature("POST", "https://api.backend.test/2/get", parameters, kClientKey),
            "G237poacWF9mjSC7GBxbNR+X9mo=");
}

TEST(RequestSignature, TestSignerMatchesTheSameVectors) {
  auto header = testing::signRequest("https://api.backend.test/2/get?b=x%20y&a=1~", {{"b", "x y"}, {"a", "1~"}},
                                     kAppId, kClientKey, kNonce, kTimestamp);
  EXPECT_NE(header.find("oauth_signature=\"G237poacWF9mjSC7GBxbNR%2BX9mo%3D\""), std::string::npos) << header;
  header = testing::signRequest("http://127.0.0.1:8080/2/create", {}, kAppId, kClientKey, kNonce, kTimestamp);
  EXPECT_NE(header.find("oauth_signature=\"xAdtElZ1lVgjELSN6bXoLx4PcPw%3D\""), std::string::npos) << header;
}

TEST(RequestSignature, PercentEncodingAndBase64) {
  EXPECT_EQ(percentEncode("a b/c~"), "a%20b%2Fc~");
  EXPECT_EQ(percentEncode("\xC3\xB8"), "%C3%B8");
  EXPECT_EQ(percentEncode(""), "");
  EXPECT_EQ(percentDecode("a%20b%2fc"), "a b/c");
  EXPECT_FALSE(percentDecode("bad%2"));
  EXPECT_FALSE(percentDecode("bad%zz"));
  EXPECT_EQ(base64Encode("ab"), "YWI=");
  EXPECT_EQ(base64Decode("YWJj"), "abc");
  EXPECT_EQ(base64Decode("YQ=="), "a");
  EXPECT_FALSE(base64Decode("YQ="));
  EXPECT_FALSE(base64Decode("Y=Q="));
  EXPECT_FALSE(base64Decode("YW!j"));
}

TEST(RequestSignature, ParsesQueriesAndHeadersLikeTheClient) {
  auto query = parseQueryString("a=1&b=x%20y&broken&c=1=2&a=3&bad=%zz");
  EXPECT_EQ(query, (std::map<std::string, std::string>{{"a", "3"}, {"b", "x y"}}));
  auto header = parseAuthorizationHeader("OAuth a=\"1\", b=\"x%20y\"");
  ASSERT_TRUE(header);
  EXPECT_EQ(header->at("b"), "x y");
  EXPECT_FALSE(parseAuthorizationHeader("Basic abc"));
  EXPECT_FALSE(parseAuthorizationHeader("OAuth a=1"));
  EXPECT_FALSE(parseAuthorizationHeader("OAuth a=\"1\" b=\"2\""));
  EXPECT_FALSE(parseAuthorizationHeader("OAuth a=\"1"));
}

TEST(RequestSignature, VerifierAcceptsOnlyMatchingSignatures) {
  RequestVerifier verifier;
  verifier.addApplication(kAppId, kClientKey);
  std::string url = "https://api.backend.test/2/get";
  auto header = testing::signRequest(url + "?b=x%20y&a=1~", {{"b", "x y"}, {"a", "1~"}}, kAppId, kClientKey, kNonce,
                                     kTimestamp);
  EXPECT_EQ(verifier.verify("POST", url, "b=x%20y&a=1~", "", header), kAppId);
  // Another query, URL, method or a secret the server does not know all fail.
  EXPECT_FALSE(verifier.verify("POST", url, "b=x%20y&a=2", "", header));
  EXPECT_FALSE(verifier.verify("POST", "http://api.backend.test/2/get", "b=x%20y&a=1~", "", header));
  EXPECT_FALSE(verifier.verify("GET", url, "b=x%20y&a=1~", "", header));
  auto foreign = testing::signRequest(url, {}, kAppId, "not-the-key", kNonce, kTimestamp);
  EXPECT_FALSE(verifier.verify("POST", url, "", "", foreign));
  auto unknownApp = testing::signRequest(url, {}, "someone-else", kClientKey, kNonce, kTimestamp);
  EXPECT_FALSE(verifier.verify("POST", url, "", "", unknownApp));
  EXPECT_FALSE(verifier.verify("POST", url, "", "", ""));
  // A form body is signed like query parameters.
  auto withForm = testing::signRequest(url, {{"k", "v"}}, kAppId, kClientKey, kNonce, kTimestamp);
  EXPECT_EQ(verifier.verify("POST", url, "", "k=v", withForm), kAppId);
}

}  // namespace
}  // namespace devserver::backend
