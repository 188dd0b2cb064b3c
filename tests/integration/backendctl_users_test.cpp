// backendctl's user commands end to end: separate runs of the real program
// (each --data-dir one device) against a devserver in this process.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "backendctl_fixture.hpp"

namespace {

using platform::Value;

class BackendctlUsersTest : public test_support::BackendctlTestBase {
 protected:
  // Runs backendctl with the data directory of `device`.
  test_support::BackendctlOutcome run(const std::string& device, std::vector<std::string> arguments) {
    return runWith(dataDir(device), std::move(arguments));
  }

  std::string dataDir(const std::string& device) const { return (dir_ / device).string(); }

  // Every byte stored under the device's data directory.
  std::string everythingStored(const std::string& device) const {
    std::string all;
    if (!std::filesystem::exists(dataDir(device))) return all;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dataDir(device))) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      all += bytes.str();
    }
    return all;
  }

  static std::string text(const Value& value) { return value.isString() ? *value.string() : ""; }
};

TEST_F(BackendctlUsersTest, TheStoredUsersSessionGoesWithEveryLaterRun) {
  auto signedUp = run("phone", {"signup", "kari", "hemmelig", "email=kari@vv.test", "age=30"});
  ASSERT_EQ(signedUp.status, 0) << signedUp.err;
  const Value kari = signedUp.json();
  const std::string id = text(kari["objectId"]);
  ASSERT_FALSE(id.empty()) << signedUp.out;
  EXPECT_EQ(kari["username"], Value("kari"));
  EXPECT_EQ(kari["age"].longLongValue(), 30);
  const std::string token = text(kari["sessionToken"]);
  ASSERT_FALSE(token.empty());
  EXPECT_EQ(everythingStored("phone").find("hemmelig"), std::string::npos) << "the password never reaches the disk";

  // An object only kari may read, made in a later run on the same device.
  auto saved = run("phone", {"save", "Diary", "text=secret", "ACL={\"" + id + "\":{\"read\":true,\"write\":true}}"});
  ASSERT_EQ(saved.status, 0) << saved.err;
  const std::string diary = text(saved.json()["objectId"]);
  EXPECT_EQ(run("phone", {"get", "Diary", diary}).status, 0);
  EXPECT_EQ(run("phone", {"call", "get", "{\"classname\":\"Diary\",\"data\":{\"objectId\":\"" + diary + "\"}}"}).status, 0);
  auto me = run("phone", {"me"});
  ASSERT_EQ(me.status, 0) << me.err;
  EXPECT_EQ(text(me.json()["sessionToken"]), token);
  EXPECT_EQ(me.json()["email"], Value("kari@vv.test"));

  // Another device sees nothing until it logs in.
  auto stranger = run("tablet", {"get", "Diary", diary});
  EXPECT_EQ(stranger.status, 1);
  EXPECT_EQ(stranger.errorCode(), 101) << stranger.err;
  auto wrong = run("tablet", {"login", "kari", "wrong"});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.errorCode(), 101) << wrong.err;
  auto loggedIn = run("tablet", {"login", "kari", "hemmelig"});
  ASSERT_EQ(loggedIn.status, 0) << loggedIn.err;
  EXPECT_EQ(text(loggedIn.json()["objectId"]), id);
  EXPECT_NE(text(loggedIn.json()["sessionToken"]), token);
  EXPECT_EQ(run("tablet", {"get", "Diary", diary}).status, 0);

  // --session-token stands in for one run and stores nothing.
  EXPECT_EQ(run("kiosk", {"--session-token", token, "get", "Diary", diary}).status, 0);
  auto kioskMe = run("kiosk", {"--session-token", token, "me"});
  EXPECT_EQ(text(kioskMe.json()["objectId"]), id) << kioskMe.err;
  EXPECT_EQ(run("kiosk", {"me"}).status, 1);

  auto badToken = run("laptop", {"become", "r:not-a-session"});
  EXPECT_EQ(badToken.status, 1);
  EXPECT_EQ(badToken.errorCode(), 101) << badToken.err;
  auto became = run("laptop", {"become", token});
  ASSERT_EQ(became.status, 0) << became.err;
  EXPECT_EQ(text(became.json()["objectId"]), id);
  EXPECT_EQ(run("laptop", {"get", "Diary", diary}).status, 0);
}

TEST_F(BackendctlUsersTest, LogOutEndsTheSessionAndForgetsTheUser) {
  auto signedUp = run("phone", {"signup", "ola", "pw"});
  ASSERT_EQ(signedUp.status, 0) << signedUp.err;
  const std::string token = text(signedUp.json()["sessionToken"]);

  auto loggedOut = run("phone", {"logout"});
  EXPECT_EQ(loggedOut.status, 0) << loggedOut.err;
  EXPECT_EQ(loggedOut.out, "");
  EXPECT_EQ(run("phone", {"me"}).status, 1);
  auto revoked = run("kiosk", {"--session-token", token, "me"});
  EXPECT_EQ(revoked.status, 1);
  EXPECT_EQ(revoked.errorCode(), 101) << "the service no longer knows the session: " << revoked.err;
  EXPECT_EQ(run("phone", {"logout"}).status, 0) << "nobody to log out is not a failure";
}

TEST_F(BackendctlUsersTest, AnAnonymousUserThatSignsUpKeepsItsAccountAndData) {
  auto anonymous = run("phone", {"anonymous"});
  ASSERT_EQ(anonymous.status, 0) << anonymous.err;
  const std::string id = text(anonymous.json()["objectId"]);
  ASSERT_FALSE(id.empty());
  auto saved = run("phone", {"save", "Note", "text=kept", "ACL={\"" + id + "\":{\"read\":true,\"write\":true}}"});
  ASSERT_EQ(saved.status, 0) << saved.err;

  auto named = run("phone", {"signup", "per", "pw", "nick=P"});
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(text(named.json()["objectId"]), id);
  EXPECT_EQ(named.json()["username"], Value("per"));

  ASSERT_EQ(run("tablet", {"login", "per", "pw"}).status, 0);
  auto found = run("tablet", {"find", "Note"});
  ASSERT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(found.json()[std::size_t{0}]["text"], Value("kept")) << found.out;
}

TEST_F(BackendctlUsersTest, PasswordResetAndMisuse) {
  ASSERT_EQ(run("phone", {"signup", "kari", "pw", "email=kari@vv.test"}).status, 0);
  EXPECT_EQ(run("phone", {"reset-password", "kari@vv.test"}).status, 0);
  auto unknown = run("phone", {"reset-password", "nobody@vv.test"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.errorCode(), 205) << unknown.err;

  EXPECT_EQ(run("phone", {"signup", "ola"}).status, 2);
  EXPECT_EQ(run("phone", {"signup", "ola", "pw", "stray"}).status, 2);
  EXPECT_EQ(run("phone", {"login", "ola"}).status, 2);
  EXPECT_EQ(run("phone", {"become"}).status, 2);
  auto fromStdin = run("phone", {"login", "kari", "-"});
  EXPECT_EQ(fromStdin.status, 2) << "stdin is empty: " << fromStdin.err;
}

}  // namespace
