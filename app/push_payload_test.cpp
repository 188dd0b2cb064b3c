#include "app/push_payload.hpp"

#include <gtest/gtest.h>

#include "platform/json.hpp"

namespace app {
namespace {

PushPayload payload(std::string_view json) { return PushPayload::fromValue(platform::json::parse(json).value()); }

TEST(PushDecision, AlertingPushIsAskedAboutOnlyInTheForeground) {
  const PushPayload push = payload(R"({"aps": {"alert": "Ny sak"}, "url": "http://www.vestavind.test/a1"})");
  EXPECT_EQ(push.alert, "Ny sak");
  EXPECT_EQ(push.url, "http://www.vestavind.test/a1");
  EXPECT_EQ(decidePushAction(push, ApplicationActivity::Active), PushAction::AskUser);
  EXPECT_EQ(decidePushAction(push, ApplicationActivity::Inactive), PushAction::OpenArticle);
  EXPECT_EQ(decidePushAction(push, ApplicationActivity::Background), PushAction::OpenArticle);
}

TEST(PushDecision, PushWithoutAlertIsIgnoredInEveryState) {
  for (const char* json : {R"({"url": "http://x.test"})", R"({"aps": {"badge": 3}, "url": "http://x.test"})",
                           R"({"aps": "alert"})", R"({"aps": {"alert": {"subtitle": "neither"}}})", "[]", "null"}) {
    const PushPayload push = payload(json);
    for (auto activity : {ApplicationActivity::Active, ApplicationActivity::Inactive, ApplicationActivity::Background}) {
      EXPECT_EQ(decidePushAction(push, activity), PushAction::Ignore) << json;
    }
  }
}

TEST(PushDecision, DictionaryAlertGivesItsBodyElseItsTitle) {
  PushPayload push = payload(R"({"aps": {"alert": {"title": "Ny sak", "body": "Brann i Bergen"}}, "url": "http://x.test/1"})");
  EXPECT_EQ(push.alert, "Brann i Bergen");
  EXPECT_EQ(push.url, "http://x.test/1");
  push = payload(R"({"aps": {"alert": {"title": "Ny sak", "body": 7}}})");
  EXPECT_EQ(push.alert, "Ny sak");
}

TEST(PushDecision, UrlInsideApsIsNotTheArticle) {
  const PushPayload push = payload(R"({"aps": {"alert": "x", "url": "http://inside.test"}})");
  EXPECT_FALSE(push.url.has_value());
  EXPECT_EQ(decidePushAction(push, ApplicationActivity::Background), PushAction::OpenArticle);
}

TEST(DeviceToken, TextIsLowerCaseHexWithoutSeparators) {
  EXPECT_EQ(deviceTokenText({0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f, 0x60, 0xff}), "0a1b2c3d4e5f60ff");
  EXPECT_EQ(deviceTokenText({}), "");
  EXPECT_EQ(deviceTokenTextFromDescription("<0a1b2c3d 4e5f60ff>"), "0a1b2c3d4e5f60ff");
}

}  // namespace
}  // namespace app
