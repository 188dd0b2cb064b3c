#include "backend/http/http_client.hpp"

#include <gtest/gtest.h>

#include "backend/http/query_string.hpp"
#include "platform/device.hpp"

namespace backend::http {
namespace {

using platform::Value;

TEST(QueryString, FlattensNestedDictionariesAndArrays) {
  auto params = Value::dictionary({{"a", Value::dictionary({{"b", Value::array({1, 2})}})}});
  EXPECT_EQ(queryStringFromParameters(params), "a[b][]=1&a[b][]=2");
  EXPECT_EQ(queryStringFromParameters(Value::dictionary({{"q", "a b&c~/"}, {"n", 1.5}})), "q=a%20b%26c%7E%2F&n=1.5");
}

TEST(HTTPClient, DefaultHeadersCarryLanguagesAndAgent) {
  auto device = platform::Device::current();
  device.preferredLanguages = {"nb", "en"};
  platform::Device::setCurrent(device);
  HTTPClient client("http://example.test/2/");
  EXPECT_EQ(client.defaultHeader("Accept-Encoding"), std::optional<std::string>("gzip"));
  EXPECT_EQ(client.defaultHeader("Accept-Language"), std::optional<std::string>("nb, en, en-us;q=0.8"));
  auto agent = client.defaultHeader("User-Agent").value_or("");
  EXPECT_NE(agent.find("(unknown, "), std::string::npos);
  EXPECT_NE(agent.find("Scale/"), std::string::npos);
  client.setAuthorizationHeaderWithUsername("user", "pass");
  EXPECT_EQ(client.defaultHeader("Authorization"), std::optional<std::string>("Basic dXNlcjpwYXNz"));
  client.setAuthorizationHeaderWithToken("t");
  EXPECT_EQ(client.defaultHeader("Authorization"), std::optional<std::string>("Token token=\"t\""));
  client.clearAuthorizationHeader();
  EXPECT_FALSE(client.defaultHeader("Authorization"));
}

TEST(HTTPClient, BodyEncodingsAndEmptyParameters) {
  HTTPClient client("http://example.test/2/");
  client.setParameterEncoding(ParameterEncoding::JSON);
  auto empty = client.requestWithMethod("POST", "find", Value::emptyDictionary());
  EXPECT_EQ(empty.url, "http://example.test/2/find");
  EXPECT_EQ(empty.body, std::optional<std::string>("{}"));
  EXPECT_EQ(empty.headers.get("Content-Type"), std::optional<std::string>("application/json; charset=utf-8"));
  auto none = client.requestWithMethod("POST", "find", Value());
  EXPECT_FALSE(none.body);
  EXPECT_FALSE(none.headers.get("Content-Type"));

  client.setParameterEncoding(ParameterEncoding::Form);
  auto form = client.requestWithMethod("PUT", "x", Value::dictionary({{"a", "1 2"}}));
  EXPECT_EQ(form.body, std::optional<std::string>("a=1%202"));
  EXPECT_EQ(form.headers.get("Content-Type"),
            std::optional<std::string>("application/x-www-form-urlencoded; charset=utf-8"));

  client.setParameterEncoding(ParameterEncoding::PropertyList);
  auto plist = client.requestWithMethod("POST", "x", Value::dictionary({{"k", "<v>"}, {"n", 3}}));
  EXPECT_NE(plist.body->find("<dict><key>k</key><string>&lt;v&gt;</string><key>n</key><integer>3</integer></dict>"),
            std::string::npos);
  EXPECT_EQ(plist.headers.get("Content-Type"), std::optional<std::string>("application/x-plist; charset=utf-8"));
}

TEST(HTTPClient, QueryParametersForGetHeadDelete) {
  HTTPClient client("http://example.test/2/");
  auto params = Value::dictionary({{"a", 1}});
  EXPECT_EQ(client.requestWithMethod("GET", "list?x=y", params).url, "http://example.test/2/list?x=y&a=1");
  EXPECT_EQ(client.requestWithMethod("DELETE", "item", params).url, "http://example.test/2/item?a=1");
  auto head = client.requestWithMethod("HEAD", "/root", params);
  EXPECT_EQ(head.url, "http://example.test/root?a=1");
  EXPECT_TRUE(head.shouldUsePipelining);
  EXPECT_FALSE(head.body);
}

}  // namespace
}  // namespace backend::http
