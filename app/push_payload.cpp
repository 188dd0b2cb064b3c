#include "app/push_payload.hpp"

#include "app/site_constants.hpp"
#include "platform/hex.hpp"

namespace app {
namespace {

std::optional<std::string> stringOf(const platform::Value& value) {
  if (const std::string* text = value.string()) return *text;
  return std::nullopt;
}

// The alert text: a string, or the "body" (else the "title") of the
// dictionary form that carries title and body apart.
std::optional<std::string> alertTextOf(const platform::Value& alert) {
  if (!alert.isDictionary()) return stringOf(alert);
  if (auto body = stringOf(alert["body"])) return body;
  return stringOf(alert["title"]);
}

}  // namespace

PushPayload PushPayload::fromValue(const platform::Value& userInfo) {
  PushPayload payload;
  if (!userInfo.isDictionary()) return payload;
  const platform::Value aps = userInfo["aps"];
  if (aps.isDictionary()) payload.alert = alertTextOf(aps["alert"]);
  payload.url = stringOf(userInfo["url"]);
  return payload;
}

PushAction decidePushAction(const PushPayload& payload, ApplicationActivity activity) {
  if (!payload.alert) return PushAction::Ignore;
  return activity == ApplicationActivity::Active ? PushAction::AskUser : PushAction::OpenArticle;
}

std::string deviceTokenText(const platform::Bytes& token) { return platform::hexText(token.data(), token.size()); }

std::string deviceTokenTextFromDescription(std::string_view description) {
  std::string text;
  for (char c : description) {
    if (c != '<' && c != '>' && c != ' ') text.push_back(c);
  }
  return text;
}

std::string providerRegistrationURL(std::string_view tokenText) {
  return std::string(kMainSiteURL) + std::string(kProviderRegistrationPath) + std::string(tokenText);
}

}  // namespace app
