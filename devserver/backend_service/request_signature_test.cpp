#include "request_signature.hpp"

#include "backend_fixture.hpp"

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

// A verifier whose clock reads `now` seconds since 1970.
RequestVerifier verifierAt(const std::int64_t& now) {
  RequestVerifier verifier(std::chrono::minutes(15), [&now] { return now; });
  verifier.addApplication(kAppId, kClientKey);
  return verifier;
}

TEST(RequestSignature, VerifierAcceptsOnlyMatchingSignatures) {
  std::int64_t now = 1700000000;
  RequestVerifier verifier = verifierAt(now);
  std::string url = "https://api.backend.test/2/get";
  auto signedWith = [&](const std::map<std::string, std::string>& query, const std::string& app,
                        const std::string& key) {
    return testing::signRequest(url, query, app, key, testing::freshNonce(), kTimestamp);
  };
  auto header = signedWith({{"b", "x y"}, {"a", "1~"}}, kAppId, kClientKey);
  // Another query, URL, method or a secret the server does not know all fail.
  EXPECT_FALSE(verifier.verify("POST", url, "b=x%20y&a=2", "", header).applicationId);
  EXPECT_FALSE(verifier.verify("POST", "http://api.backend.test/2/get", "b=x%20y&a=1~", "", header).applicationId);
  EXPECT_FALSE(verifier.verify("GET", url, "b=x%20y&a=1~", "", header).applicationId);
  EXPECT_EQ(verifier.verify("POST", url, "b=x%20y&a=1~", "", header).applicationId, kAppId);
  auto foreign = verifier.verify("POST", url, "", "", signedWith({}, kAppId, "not-the-key"));
  EXPECT_EQ(foreign.refusal, "invalid request signature");
  auto unknownApp = verifier.verify("POST", url, "", "", signedWith({}, "someone-else", kClientKey));
  EXPECT_EQ(unknownApp.refusal, "unknown application (oauth_consumer_key)");
  EXPECT_FALSE(verifier.verify("POST", url, "", "", "").applicationId);
  // A form body is signed like query parameters.
  EXPECT_EQ(verifier.verify("POST", url, "", "k=v", signedWith({{"k", "v"}}, kAppId, kClientKey)).applicationId,
            kAppId);
}

TEST(RequestSignature, OldFutureAndReplayedRequestsAreRefusedWithAReason) {
  std::int64_t now = 1700000000;
  RequestVerifier verifier = verifierAt(now);
  std::string url = "https://api.backend.test/2/find";
  auto at = [&](std::int64_t timestamp, const std::string& nonce) {
    return verifier.verify("POST", url, "", "",
                           testing::signRequest(url, {}, kAppId, kClientKey, nonce, std::to_string(timestamp)));
  };
  EXPECT_TRUE(at(now - 900, "edge-past").applicationId);
  EXPECT_TRUE(at(now + 900, "edge-future").applicationId);
  auto stale = at(now - 901, "stale");
  EXPECT_FALSE(stale.applicationId);
  EXPECT_NE(stale.refusal.find("oauth_timestamp is more than 900 seconds away"), std::string::npos);
  EXPECT_FALSE(at(now + 901, "early").applicationId);

  auto header = testing::signRequest(url, {}, kAppId, kClientKey, "once", std::to_string(now));
  EXPECT_TRUE(verifier.verify("POST", url, "", "", header).applicationId);
  auto replay = verifier.verify("POST", url, "", "", header);
  EXPECT_FALSE(replay.applicationId);
  EXPECT_EQ(replay.refusal, "this oauth_nonce was already used (a replayed request)");
  // Still refused while its timestamp can pass; a refused signature does not use the nonce up.
  now += 899;
  EXPECT_FALSE(verifier.verify("POST", url, "", "", header).applicationId);
  EXPECT_FALSE(verifier.verify("POST", url, "", "",
                               testing::signRequest(url, {}, kAppId, "wrong", "fresh", std::to_string(now)))
                   .applicationId);
  EXPECT_TRUE(at(now, "fresh").applicationId);
  EXPECT_FALSE(at(now, "").applicationId);
}

TEST(RequestSignature, NonceMemoryForgetsExpiredAndOverflowingEntries) {
  NonceMemory memory;
  EXPECT_TRUE(memory.remember("app", "n1", 100, 0));
  EXPECT_FALSE(memory.remember("app", "n1", 150, 0));
  EXPECT_TRUE(memory.remember("other-app", "n1", 150, 0));
  // Once older than the window it may come again (its timestamp no longer passes).
  EXPECT_TRUE(memory.remember("app", "n1", 2000, 1000));
  for (std::size_t i = 0; i < NonceMemory::kMaxNonces + 10; ++i) memory.remember("app", std::to_string(i), 3000, 1000);
  EXPECT_TRUE(memory.remember("app", "0", 3000, 1000));  // the oldest went first
  EXPECT_FALSE(memory.remember("app", std::to_string(NonceMemory::kMaxNonces), 3000, 1000));
}

}  // namespace
}  // namespace devserver::backend
