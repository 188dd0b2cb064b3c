#include "backend_fixture.hpp"

#include <gtest/gtest.h>

namespace devserver::backend::testing {
namespace {

using AccessTest = BackendFixture;

TEST_F(AccessTest, SignUpLogInAndSessionTokens) {
  Json signedUp = result("user_signup", {{"classname", "_User"},
                                         {"data", {{"username", "kari"}, {"email", "kari@vv.test"}, {"age", 30}}},
                                         {"user_password", "hemmelig"}});
  std::string token = signedUp["session_token"];
  EXPECT_EQ(token.rfind("r:", 0), 0u);
  EXPECT_EQ(signedUp["data"]["session_token"], token);
  EXPECT_EQ(signedUp["data"]["username"], "kari");
  EXPECT_TRUE(signedUp["data"].contains("objectId"));
  EXPECT_FALSE(signedUp["data"].contains("password"));
  EXPECT_FALSE(signedUp["data"].contains("user_password"));

  Json me = result("client_me", Json::object(), token);
  EXPECT_EQ(me["data"]["username"], "kari");
  EXPECT_EQ(me["data"]["age"], 30);
  EXPECT_TRUE(result("client_me", Json::object(), "r:unknown").is_null());
  EXPECT_TRUE(result("client_me", Json::object()).is_null());

  Json loggedIn = result("user_login", {{"username", "kari"}, {"user_password", "hemmelig"}});
  EXPECT_EQ(loggedIn["data"]["objectId"], signedUp["data"]["objectId"]);
  EXPECT_EQ(loggedIn["data"]["email"], "kari@vv.test");
  EXPECT_NE(loggedIn["session_token"], token) << "each log-in opens its own session";
  EXPECT_TRUE(result("user_login", {{"username", "kari"}, {"user_password", "wrong"}}).is_null());
  EXPECT_TRUE(result("user_login", {{"username", "nobody"}, {"user_password", "x"}}).is_null());
  EXPECT_EQ(errorCode("user_login", {{"username", 5}, {"user_password", "x"}}), 200);

  EXPECT_EQ(errorCode("user_signup", {{"classname", "_User"}, {"data", {{"username", "kari"}}}, {"user_password", "x"}}),
            202);
  EXPECT_EQ(errorCode("user_signup",
                      {{"classname", "_User"}, {"data", {{"username", "ola"}, {"email", "kari@vv.test"}}}, {"user_password", "x"}}),
            203);
  EXPECT_EQ(errorCode("user_signup", {{"classname", "_User"}, {"data", {{"username", "ola"}}}}), 201);
  EXPECT_EQ(errorCode("user_signup", {{"classname", "_User"}, {"data", Json::object()}, {"user_password", "x"}}), 200);
  EXPECT_EQ(errorCode("create", {{"classname", "_User"}, {"data", {{"username", "sneaky"}}}}), 119);
}

TEST_F(AccessTest, UsersChangeOnlyThemselves) {
  std::string kariId, olaId;
  std::string kari = signUp("kari", "one", &kariId);
  std::string ola = signUp("ola", "two", &olaId);
  Json rename{{"classname", "_User"}, {"data", {{"objectId", kariId}, {"username", "kari2"}}}};
  EXPECT_EQ(errorCode("update", rename, ola), 101) << "kari's ACL gives ola no write access";
  EXPECT_EQ(errorCode("update", rename), 101);
  EXPECT_EQ(result("update", rename, kari)["data"]["username"], "kari2");
  EXPECT_FALSE(result("user_login", {{"username", "kari2"}, {"user_password", "one"}}).is_null());
  EXPECT_EQ(errorCode("update", {{"classname", "_User"}, {"data", {{"objectId", kariId}, {"username", "ola"}}}}, kari),
            202);

  result("update", {{"classname", "_User"}, {"data", {{"objectId", kariId}}}, {"user_password", "new"}}, kari);
  EXPECT_TRUE(result("user_login", {{"username", "kari2"}, {"user_password", "one"}}).is_null());
  EXPECT_FALSE(result("user_login", {{"username", "kari2"}, {"user_password", "new"}}).is_null());
  EXPECT_EQ(get("_User", kariId, ola)["username"], "kari2") << "users are publicly readable";
}

TEST_F(AccessTest, PasswordResetAndSignUpOrLogIn) {
  result("user_signup", {{"classname", "_User"},
                         {"data", {{"username", "kari"}, {"email", "kari@vv.test"}}},
                         {"user_password", "pw"}});
  EXPECT_EQ(result("user_request_password_reset", {{"email", "kari@vv.test"}}), Json::object());
  EXPECT_EQ(errorCode("user_request_password_reset", {{"email", "nobody@vv.test"}}), 205);
  EXPECT_EQ(errorCode("user_request_password_reset", Json::object()), 204);

  Json anonymous{{"classname", "_User"}, {"data", {{"auth_data", {{"anonymous", {{"id", "9f1c-anon"}}}}}}}};
  Json first = result("user_signup_or_login", anonymous);
  EXPECT_EQ(first["is_new"], true);
  EXPECT_TRUE(first["data"]["username"].is_string());
  Json again = result("user_signup_or_login", anonymous);
  EXPECT_EQ(again["is_new"], false);
  EXPECT_EQ(again["data"]["objectId"], first["data"]["objectId"]);

  Json named{{"classname", "_User"}, {"data", {{"username", "per"}}}, {"user_password", "pw"}};
  EXPECT_EQ(result("user_signup_or_login", named)["is_new"], true);
  EXPECT_EQ(result("user_signup_or_login", named)["is_new"], false);
  named["user_password"] = "other";
  EXPECT_EQ(errorCode("user_signup_or_login", named), 101);
}

TEST_F(AccessTest, SessionAnswersCarryNewnessAndLinksInsideData) {
  Json anonymous{{"classname", "_User"}, {"data", {{"auth_data", {{"anonymous", {{"id", "4d2a-anon"}}}}}}}};
  Json first = result("user_signup_or_login", anonymous);
  EXPECT_EQ(first["data"]["is_new"], true);
  EXPECT_EQ(first["data"]["auth_data"], (Json{{"anonymous", {{"id", "4d2a-anon"}}}}));
  Json again = result("user_signup_or_login", anonymous);
  EXPECT_EQ(again["data"]["is_new"], false);
  Json me = result("client_me", Json::object(), again["session_token"]);
  EXPECT_EQ(me["data"]["auth_data"], first["data"]["auth_data"]) << "become learns the links";
  EXPECT_FALSE(me["data"].contains("is_new"));

  std::string token = signUp("kari");
  EXPECT_FALSE(result("client_me", Json::object(), token)["data"].contains("auth_data")) << "no links, no auth_data";
  EXPECT_FALSE(get("_User", first["data"]["objectId"], token).contains("auth_data")) << "others never see the links";
}

TEST_F(AccessTest, LogOutEndsOnlyItsOwnSession) {
  std::string first = signUp("kari", "pw");
  Json other = result("user_login", {{"username", "kari"}, {"user_password", "pw"}});
  std::string second = other["session_token"];

  EXPECT_EQ(result("user_logout", Json::object(), first), Json::object());
  EXPECT_TRUE(result("client_me", Json::object(), first).is_null());
  EXPECT_EQ(errorCode("create", {{"classname", "Note"}, {"data", {{"a", 1}}}}, first), 209);
  EXPECT_EQ(errorCode("user_logout", Json::object(), first), 209) << "an ended session cannot end again";
  EXPECT_EQ(result("client_me", Json::object(), second)["data"]["username"], "kari");
  EXPECT_EQ(errorCode("user_logout", Json::object()), 206);
}

TEST_F(AccessTest, OnlyKnownAuthenticationProvidersAreAccepted) {
  Json facebook{{"classname", "_User"}, {"data", {{"auth_data", {{"facebook", {{"id", "1234"}}}}}}}};
  EXPECT_EQ(errorCode("user_signup_or_login", facebook), 252);
  std::string userId;
  std::string token = signUp("ola", "pw", &userId);
  Json link{{"classname", "_User"}, {"data", {{"objectId", userId}, {"auth_data", {{"facebook", {{"id", "1"}}}}}}}};
  EXPECT_EQ(errorCode("update", link, token), 252);
  Json noId{{"classname", "_User"}, {"data", {{"auth_data", {{"anonymous", {{"id", ""}}}}}}}};
  EXPECT_EQ(errorCode("user_signup_or_login", noId), 111);

  EXPECT_TRUE(service_->addAuthProvider("facebook"));
  EXPECT_FALSE(service_->addAuthProvider("not a name"));
  EXPECT_EQ(result("user_signup_or_login", facebook)["is_new"], true);
  EXPECT_TRUE(result("update", link, token).contains("data"));
  EXPECT_EQ(service_->authProviders(), (std::vector<std::string>{"anonymous", "facebook"}));
}

TEST_F(AccessTest, AccessListsGuardReadsAndWrites) {
  std::string kariId, olaId;
  std::string kari = signUp("kari", "pw", &kariId);
  std::string ola = signUp("ola", "pw", &olaId);
  Json acl{{kariId, {{"read", true}, {"write", true}}}, {"*", {{"read", true}}}};
  std::string shared = create("Note", {{"text", "public"}, {"ACL", acl}}, kari);
  std::string secret = create("Note", {{"text", "secret"}, {"ACL", {{kariId, {{"read", true}, {"write", true}}}}}}, kari);

  EXPECT_EQ(get("Note", secret, kari)["text"], "secret");
  EXPECT_EQ(errorCode("get", {{"classname", "Note"}, {"data", {{"objectId", secret}}}}, ola), 101);
  EXPECT_EQ(errorCode("get", {{"classname", "Note"}, {"data", {{"objectId", secret}}}}), 101);
  EXPECT_EQ(result("find", {{"classname", "Note"}}, ola)["results"].size(), 1u);
  EXPECT_EQ(result("find", {{"classname", "Note"}}, kari)["results"].size(), 2u);

  Json edit{{"classname", "Note"}, {"data", {{"objectId", shared}, {"text", "changed"}}}};
  EXPECT_EQ(errorCode("update", edit, ola), 101);
  EXPECT_EQ(errorCode("delete", {{"classname", "Note"}, {"data", {{"objectId", shared}}}}, ola), 101);
  EXPECT_EQ(result("update", edit, kari)["data"]["text"], "changed");
  EXPECT_EQ(get("Note", shared, ola)["text"], "changed");

  // An include of an unreadable object stays a pointer.
  create("Link", {{"to", pointer("Note", secret)}});
  EXPECT_EQ(result("find", {{"classname", "Link"}, {"include", "to"}}, ola)["results"][0]["data"]["to"]["__type"],
            "Pointer");
}

TEST_F(AccessTest, RolesGrantAccessThroughUsersAndRoles) {
  std::string adminId, modId, guestId;
  std::string admin = signUp("admin", "pw", &adminId);
  std::string mod = signUp("mod", "pw", &modId);
  std::string guest = signUp("guest", "pw", &guestId);

  auto addTo = [&](const std::string& roleId, const std::string& key, const Json& member) {
    result("update", {{"classname", "_Role"},
                      {"data", {{"objectId", roleId}, {key, {{"__op", "AddRelation"}, {"objects", {member}}}}}}});
  };
  std::string admins = create("_Role", {{"name", "Admins"}});
  std::string moderators = create("_Role", {{"name", "Moderators"}});
  addTo(admins, "users", pointer("_User", adminId));
  addTo(moderators, "users", pointer("_User", modId));
  // Admins are moderators too.
  addTo(moderators, "roles", pointer("_Role", admins));

  std::string post = create("Post", {{"ACL", {{"role:Moderators", {{"read", true}, {"write", true}}}}}});
  EXPECT_EQ(get("Post", post, mod)["objectId"], post);
  EXPECT_EQ(get("Post", post, admin)["objectId"], post) << "admins hold Moderators through its roles";
  EXPECT_EQ(errorCode("get", {{"classname", "Post"}, {"data", {{"objectId", post}}}}, guest), 101);
  EXPECT_EQ(result("update", {{"classname", "Post"}, {"data", {{"objectId", post}, {"x", 1}}}}, admin)["data"]["x"], 1);

  EXPECT_EQ(errorCode("create", {{"classname", "_Role"}, {"data", {{"name", "Admins"}}}}), 137);
  EXPECT_EQ(errorCode("create", {{"classname", "_Role"}, {"data", {{"name", "bad!"}}}}), 139);
  EXPECT_EQ(errorCode("update", {{"classname", "_Role"}, {"data", {{"objectId", admins}, {"name", "Other"}}}}), 139);
  EXPECT_EQ(errorCode("create", {{"classname", "_Product"}, {"data", {{"name", "x"}}}}), 119);
}

// Pages of a find without constraints skip in the database; what they skip
// must be exactly the objects the caller may read, as in a full answer.
TEST_F(AccessTest, PagesSkipOnlyObjectsTheCallerMayRead) {
  std::string editorId;
  std::string editor = signUp("editor", "pw", &editorId);
  std::string editors = create("_Role", {{"name", "Editors"}});
  result("update", {{"classname", "_Role"},
                    {"data", {{"objectId", editors},
                              {"users", {{"__op", "AddRelation"}, {"objects", {pointer("_User", editorId)}}}}}}});
  const Json grants[] = {
      Json(),                                             // no access list: open to all
      {{"*", {{"read", true}}}},                          // public
      {{"*", {{"write", true}}}},                         // nobody reads
      {{editorId, {{"read", true}}}},                     // the editor
      {{"role:Editors", {{"read", true}}}},               // the editor, through the role
      {{"someone-else", {{"read", true}, {"write", true}}}},
  };
  for (int i = 0; i < 36; ++i) {
    Json data{{"n", i}};
    const Json& acl = grants[i % std::size(grants)];
    if (!acl.is_null()) data["ACL"] = acl;
    create("Story", data);
  }
  auto idsOf = [&](Json params, const std::string& token) {
    params["classname"] = "Story";
    std::vector<std::string> found;
    Json answer = result("find", params, token);
    for (const auto& entry : answer["results"]) found.push_back(entry["data"]["objectId"]);
    return found;
  };
  for (const std::string& token : {std::string(), editor}) {
    for (const char* order : {"createdAt", "-updatedAt"}) {
      auto all = idsOf({{"order", order}, {"limit", "1000"}}, token);
      ASSERT_EQ(all.size(), token.empty() ? 12u : 24u);
      for (std::size_t skip : {1u, 5u, 11u, 23u, 30u}) {
        auto from = std::min(all.size(), skip);
        auto to = std::min(all.size(), skip + 4);
        EXPECT_EQ(idsOf({{"order", order}, {"skip", std::to_string(skip)}, {"limit", "4"}}, token),
                  std::vector<std::string>(all.begin() + static_cast<long>(from), all.begin() + static_cast<long>(to)))
            << "skip " << skip << ", order " << order << (token.empty() ? ", public" : ", editor");
      }
    }
  }
}

}  // namespace
}  // namespace devserver::backend::testing
