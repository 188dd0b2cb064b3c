#include "oauth_signer.hpp"

#include <gtest/gtest.h>

namespace devserver::test {
namespace {

// The signature below was computed independently of this helper and of both
// the server and the clients (Python's hmac module over the same base string).
TEST(OAuthSigner, MatchesAnIndependentlyComputedVector) {
  EXPECT_EQ(oauthEncode("a b/c~ø"), "a%20b%2Fc~%C3%B8");
  std::string header = oauthHeader("https://api.backend.test/2/find", "app", "secret", "abc", "1700000000");
  EXPECT_NE(header.find("oauth_signature=\"kwpr5zJnpBWJcjFWVTP0F6oQEvA%3D\""), std::string::npos) << header;
}

}  // namespace
}  // namespace devserver::test
