#include "backend/http/oauth.hpp"

#include <gtest/gtest.h>

#include <regex>

namespace backend::http {
namespace {

constexpr const char* kNonce = "0F8E4D5C-1111-4222-8333-944455566677";
constexpr const char* kTimestamp = "1700000000";

// The value of one parameter of an "OAuth k=\"v\", ..." header.
std::string headerParameter(const std::string& header, const std::string& name) {
  std::smatch match;
  std::regex pattern(name + "=\"([^\"]*)\"");
  return std::regex_search(header, match, pattern) ? match[1].str() : std::string("<missing>");
}

TEST(RFC3986Encode, KeepsUnreservedAndEscapesEveryOtherByte) {
  EXPECT_EQ(rfc3986Encode("a b/c~"), "a%20b%2Fc~");
  EXPECT_EQ(rfc3986Encode(""), "");
  EXPECT_EQ(rfc3986Encode("\xC3\x86-._"), "%C3%86-._");
  EXPECT_EQ(rfc3986Encode("+=&*"), "%2B%3D%26%2A");
}

TEST(ParseURLQueryString, SkipsMalformedPiecesAndKeepsLastRepeat) {
  auto map = parseURLQueryString("a=1&b&c=x=y&d=%zz&e=%C3%86&a=2&f=%FF&g=");
  EXPECT_EQ(map.size(), 3u);
  EXPECT_EQ(map["a"], "2");
  EXPECT_EQ(map["e"], "\xC3\x86");
  EXPECT_EQ(map["g"], "");
  EXPECT_FALSE(map.count("d"));
  EXPECT_FALSE(map.count("f"));  // not UTF-8 once unescaped
  EXPECT_TRUE(parseURLQueryString("").empty());
}

TEST(Base64, RoundTripsAndRejectsMalformedText) {
  EXPECT_EQ(base64Encode(""), "");
  EXPECT_EQ(base64Encode("f"), "Zg==");
  EXPECT_EQ(base64Encode("fo"), "Zm8=");
  EXPECT_EQ(base64Encode("foo"), "Zm9v");
  EXPECT_EQ(base64Decode("Zm8="), std::optional<std::string>("fo"));
  EXPECT_EQ(base64Decode("Zg=="), std::optional<std::string>("f"));
  EXPECT_FALSE(base64Decode("Zm8"));
  EXPECT_FALSE(base64Decode("Z!8="));
}

// Signatures below were computed once with Python's hmac/hashlib/base64 and
// urllib.parse.quote(safe='-._~'), independently of this code.
TEST(OAuthSignature, MatchesIndependentVectorForPlainURL) {
  auto header = OAuth::createAuthorizationHeaderWith("https://api.backend.test/2/find", "POST", std::nullopt,
                                                     "appId", "client key/secret", kNonce, kTimestamp);
  EXPECT_EQ(headerParameter(header, "oauth_signature"), rfc3986Encode("AT3h2KXrQH0J8HpTaIgQA7PgMhs="));
  EXPECT_EQ(header.rfind("OAuth ", 0), 0u);
  EXPECT_EQ(headerParameter(header, "oauth_consumer_key"), "appId");
  EXPECT_EQ(headerParameter(header, "oauth_nonce"), kNonce);
  EXPECT_EQ(headerParameter(header, "oauth_timestamp"), kTimestamp);
  EXPECT_EQ(headerParameter(header, "oauth_signature_method"), "HMAC-SHA1");
  EXPECT_EQ(headerParameter(header, "oauth_version"), "1.0");
}

TEST(OAuthSignature, SignsExplicitPortAndQueryParameters) {
  auto header = OAuth::createAuthorizationHeaderWith("http://127.0.0.1:8080/2/get?limit=10&where=%7B%22a%22%3A1%7D",
                                                     "POST", std::nullopt, "appId", "s3cr3t", kNonce, kTimestamp);
  EXPECT_EQ(headerParameter(header, "oauth_signature"), rfc3986Encode("2Ik4F2/cv0XGyBjgiGIdN+bMdBo="));
}

TEST(OAuthSignature, SignsFormBodyParameters) {
  auto header = OAuth::createAuthorizationHeaderWith("https://api.backend.test/2/login", "POST",
                                                     std::string("name=%C3%86rlig%20talt&x=1"), "appId", "k", kNonce,
                                                     kTimestamp);
  EXPECT_EQ(headerParameter(header, "oauth_signature"), rfc3986Encode("uR70WKM5qG31giLXwxGdENN9GGk="));
}

TEST(OAuthSignature, FreshNonceEachTimeChangesTheSignature) {
  auto a = OAuth::createAuthorizationHeader("https://api.backend.test/2/find", "POST", std::nullopt, "id", "key");
  auto b = OAuth::createAuthorizationHeader("https://api.backend.test/2/find", "POST", std::nullopt, "id", "key");
  EXPECT_NE(headerParameter(a, "oauth_nonce"), headerParameter(b, "oauth_nonce"));
  EXPECT_NE(headerParameter(a, "oauth_signature"), headerParameter(b, "oauth_signature"));
  EXPECT_TRUE(std::regex_match(headerParameter(a, "oauth_nonce"),
                               std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")));
}

}  // namespace
}  // namespace backend::http
