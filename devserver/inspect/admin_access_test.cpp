#include <gtest/gtest.h>

#include "oauth_signer.hpp"
#include "running_server.hpp"
#include "backend_service/reader_application.hpp"

namespace devserver {
namespace {

// A page in the reader's web view reaches the server as a site's host (or
// through the proxy form); the admin endpoints must not answer it.
TEST(AdminAccess, AnswersOnlyTheServersOwnNames) {
  test::RunningServer running;
  for (const char* site : {"www.vestavind.test", "api.backend.test", "push.gateway.test"}) {
    auto refused = running.get(site, "/_admin/requests");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403) << site;
  }
  httplib::Headers proxyForm{{"Host", "www.vestavind.test"}};
  EXPECT_EQ(running.client()->Get("http://www.vestavind.test/_admin/faults", proxyForm)->status, 403);
  EXPECT_EQ(running.get("localhost", "/_admin/faults")->status, 200);
  EXPECT_EQ(running.get("127.0.0.1:" + std::to_string(running.port()), "/_admin/faults")->status, 200);
}

// A plain form post from a web page cannot set a JSON type without asking
// the server first, which it does not allow.
TEST(AdminAccess, ChangesTakeJsonBodiesOnly) {
  test::RunningServer running;
  const std::string rule = R"({"host":"*","status":500})";
  for (const char* type : {"application/x-www-form-urlencoded", "text/plain", "multipart/form-data; boundary=x"}) {
    auto refused = running.client()->Post("/_admin/faults", rule, type);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 415) << type;
  }
  EXPECT_EQ(running.client()->Post("/_admin/reset", "", "text/plain")->status, 415);
  EXPECT_TRUE(running.admin("/_admin/faults")["faults"].empty());
  EXPECT_EQ(running.client()->Post("/_admin/faults", rule, "Application/JSON; charset=utf-8")->status, 201);
  EXPECT_EQ(running.client()->Delete("/_admin/faults")->status, 200);  // no body: nothing to check
}

TEST(AdminAccess, TheRequestLogKeepsNoCredentials) {
  test::RunningServer running;
  const std::string url = "https://api.backend.test/2/user_signup";
  running.post("api.backend.test", "/2/user_signup",
               R"({"classname":"_User","data":{"username":"kari"},"user_password":"hemmelig"})",
               {{"Authorization", test::oauthHeader(url, backend::kReaderApplicationId, backend::kReaderClientKey)},
                {"Cookie", "session=abc"}});
  auto logged = running.admin("/_admin/requests")["requests"];
  ASSERT_EQ(logged.size(), 1u);
  std::string entry = logged[0].dump();
  EXPECT_EQ(entry.find("hemmelig"), std::string::npos);
  EXPECT_EQ(entry.find("oauth_signature"), std::string::npos);
  EXPECT_EQ(entry.find("session=abc"), std::string::npos);
  EXPECT_EQ(logged[0]["headers"]["Authorization"], "[redacted]");
  EXPECT_NE(logged[0]["body"].get<std::string>().find(R"("username":"kari")"), std::string::npos);
}

TEST(AdminAccess, ProvidersCanBeAddedForTests) {
  test::RunningServer running;
  EXPECT_EQ(running.admin("/_admin/providers")["providers"], nlohmann::json({"anonymous"}));
  auto added = running.client()->Post("/_admin/providers", R"({"name":"facebook"})", "application/json");
  ASSERT_TRUE(added);
  EXPECT_EQ(added->status, 201);
  EXPECT_EQ(running.admin("/_admin/providers")["providers"], nlohmann::json({"anonymous", "facebook"}));
  EXPECT_EQ(running.client()->Post("/_admin/providers", R"({"name":"no way"})", "application/json")->status, 400);
}

}  // namespace
}  // namespace devserver
