#include "http/request_target.hpp"

#include <gtest/gtest.h>

namespace devserver {
namespace {

TEST(RequestTarget, OriginFormTakesTheHostHeaderLowerCasedWithoutPort) {
  auto resolved = resolveTarget("/iosapp/menuconfig/", "WWW.Vestavind.TEST:8080");
  ASSERT_TRUE(resolved.target) << resolved.error;
  EXPECT_EQ(resolved.target->host, "www.vestavind.test");
  EXPECT_EQ(resolved.target->port, "8080");
  EXPECT_EQ(resolved.target->path, "/iosapp/menuconfig/");
  EXPECT_FALSE(resolved.target->absoluteForm);
  EXPECT_EQ(resolved.target->scheme, "");
}

TEST(RequestTarget, AbsoluteFormOverridesTheHostHeader) {
  auto resolved = resolveTarget("http://m.vv.test:81/sport/1-a", "127.0.0.1:4000");
  ASSERT_TRUE(resolved.target) << resolved.error;
  EXPECT_TRUE(resolved.target->absoluteForm);
  EXPECT_EQ(resolved.target->scheme, "http");
  EXPECT_EQ(resolved.target->host, "m.vv.test");
  EXPECT_EQ(resolved.target->port, "81");
  EXPECT_EQ(resolved.target->path, "/sport/1-a");

  auto bare = resolveTarget("HTTPS://api.backend.test", "");
  ASSERT_TRUE(bare.target) << bare.error;
  EXPECT_EQ(bare.target->scheme, "https");
  EXPECT_EQ(bare.target->path, "/");
}

TEST(RequestTarget, AcceptsIpv6LiteralsAndAMissingHost) {
  auto literal = resolveTarget("/2/find", "[::1]:9000");
  ASSERT_TRUE(literal.target) << literal.error;
  EXPECT_EQ(literal.target->host, "[::1]");
  EXPECT_EQ(literal.target->port, "9000");
  EXPECT_TRUE(isLoopbackHost(literal.target->host));

  auto none = resolveTarget("/", "");
  ASSERT_TRUE(none.target);
  EXPECT_EQ(none.target->host, "");
}

TEST(RequestTarget, RefusesMalformedHostsAndTargetsWithAReason) {
  for (const char* host : {"bad host", "a/b", "host:", "host:12x", "host:123456", "[::1", "[zz]", ":80", "é.test"}) {
    auto resolved = resolveTarget("/", host);
    EXPECT_FALSE(resolved.target) << host;
    EXPECT_NE(resolved.error, "") << host;
  }
  EXPECT_FALSE(resolveTarget("http:///x", "").target);
  EXPECT_FALSE(resolveTarget("x", "www.vestavind.test").target);
  EXPECT_FALSE(resolveTarget("/", std::string(300, 'a')).target);
}

TEST(RequestTarget, LoopbackHostsAreTheServerItself) {
  EXPECT_TRUE(isLoopbackHost("localhost"));
  EXPECT_TRUE(isLoopbackHost("127.0.0.1"));
  EXPECT_TRUE(isLoopbackHost("127.1.2.3"));
  EXPECT_FALSE(isLoopbackHost("www.vestavind.test"));
  EXPECT_FALSE(isLoopbackHost("10.0.0.1"));
}

}  // namespace
}  // namespace devserver
