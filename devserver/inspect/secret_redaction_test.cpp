#include "inspect/secret_redaction.hpp"

#include <gtest/gtest.h>

namespace devserver {
namespace {

TEST(SecretRedaction, BlanksPasswordsAndSessionTokensInJsonAndForms) {
  EXPECT_EQ(redactSecrets(R"({"classname":"_User","user_password":"hemmelig","session_token" : "r:abc\"d"})"),
            R"({"classname":"_User","user_password":"[redacted]","session_token" : "[redacted]"})");
  EXPECT_EQ(redactSecrets(R"({"data":{"password":"x","username":"kari"}})"),
            R"({"data":{"password":"[redacted]","username":"kari"}})");
  // Cut off mid-value, as a long body is in the log: what is left is blanked too.
  EXPECT_EQ(redactSecrets(R"({"session_token":"r:abcdef)"), R"({"session_token":"[redacted]")");
  EXPECT_EQ(redactSecrets("username=kari&user_password=hemmelig&x=1"), "username=kari&user_password=[redacted]&x=1");
  EXPECT_EQ(redactSecrets("password=a&password=b"), "password=[redacted]&password=[redacted]");
}

TEST(SecretRedaction, LeavesEverythingElseAsItWas) {
  for (const char* kept : {R"({"text":"my password is long","session":"x"})", R"({"session_token":null})",
                           "v=1&t=pageview&dp=%2Fpassword", "", "\"session_token\""}) {
    EXPECT_EQ(redactSecrets(kept), kept);
  }
  EXPECT_TRUE(isSecretHeader("authorization"));
  EXPECT_TRUE(isSecretHeader("Cookie"));
  EXPECT_FALSE(isSecretHeader("Content-Type"));
}

}  // namespace
}  // namespace devserver
