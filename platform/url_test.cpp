#include "platform/url.hpp"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(SplitURL, ReadsEveryPartWithUserInfoPortsAndIPv6Literals) {
  const auto full = splitURL("https://user:pw@api.backend.test:8443/2/find?x=1&y=%20#top");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->scheme, "https");
  EXPECT_EQ(full->userInfo, "user:pw");
  EXPECT_EQ(full->host, "api.backend.test");
  EXPECT_EQ(full->port, "8443");
  EXPECT_EQ(full->path, "/2/find");
  EXPECT_EQ(full->query, "x=1&y=%20");
  EXPECT_EQ(full->fragment, "top");
  EXPECT_EQ(full->authority(), "api.backend.test:8443");

  const auto loopback6 = splitURL("http://[::1]:8080/");
  ASSERT_TRUE(loopback6);
  EXPECT_EQ(loopback6->host, "[::1]");
  EXPECT_EQ(loopback6->bareHost(), "::1");
  EXPECT_EQ(loopback6->port, "8080");
  EXPECT_EQ(loopback6->authority(), "[::1]:8080");

  const auto bare = splitURL("http://u@[2001:db8::7]?q");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->bareHost(), "2001:db8::7");
  EXPECT_EQ(bare->port, std::nullopt);
  EXPECT_EQ(bare->path, "");
  EXPECT_EQ(bare->query, "q");

  const auto emptyPort = splitURL("http://host:/x");
  ASSERT_TRUE(emptyPort);
  EXPECT_EQ(emptyPort->port, std::nullopt);
  EXPECT_EQ(emptyPort->authority(), "host");
}

TEST(SplitURL, RefusesWhatIsNoAbsoluteURL) {
  for (const char* url : {"", "host/path", "://host/", "http://", "http:///x", "http://user@/", "http://[::1/",
                          "http://[::1]x/"}) {
    EXPECT_FALSE(splitURL(url)) << url;
  }
}

TEST(HostOf, AnswersTheBareHostOrNothing) {
  EXPECT_EQ(hostOf("https://api.backend.test:443/2/"), "api.backend.test");
  EXPECT_EQ(hostOf("http://[::1]:8080/"), "::1");
  EXPECT_EQ(hostOf("http://someone@www.vestavind.test/a:b"), "www.vestavind.test");
  EXPECT_EQ(hostOf("not a url"), "");
}

TEST(IsWebURL, OnlyHttpAndHttpsWithAHost) {
  for (const char* url : {"http://www.vestavind.test/", "HTTPS://m.vestavind.test?hideHeader=1"}) {
    EXPECT_TRUE(isWebURL(url)) << url;
  }
  for (const char* url : {"file:///etc/passwd", "file://localhost/etc/passwd", "javascript://x/%0aalert(1)",
                          "ftp://host/", "data:text/html,hei", "http:///x", "", "www.vestavind.test"}) {
    EXPECT_FALSE(isWebURL(url)) << url;
  }
}

}  // namespace
}  // namespace platform
