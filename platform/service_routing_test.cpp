#include "platform/service_routing.hpp"

#include <gtest/gtest.h>

#include "platform/exceptions.hpp"

namespace platform {
namespace {

class ServiceRoutingTest : public ::testing::Test {
 protected:
  void TearDown() override { ServiceRouting::shared().clear(); }
  ServiceRouting& routing = ServiceRouting::shared();
};

TEST_F(ServiceRoutingTest, InactiveRoutesNothing) {
  EXPECT_FALSE(routing.isActive());
  EXPECT_FALSE(routing.route("http://www.vestavind.test/").has_value());
}

TEST_F(ServiceRoutingTest, RoutesReservedHostsKeepingPathAndHost) {
  routing.routeTo("http://127.0.0.1:8080/");
  auto routed = routing.route("http://www.vestavind.test/iosapp/menuconfig/?a=1#f");
  ASSERT_TRUE(routed);
  EXPECT_EQ(routed->url, "http://127.0.0.1:8080/iosapp/menuconfig/?a=1#f");
  EXPECT_EQ(routed->hostHeader, "www.vestavind.test");

  routed = routing.route("https://API.backend.test:443");
  ASSERT_TRUE(routed);
  EXPECT_EQ(routed->url, "http://127.0.0.1:8080/");
  EXPECT_EQ(routed->hostHeader, "API.backend.test:443");

  routed = routing.route("http://m.vestavind.test?hideHeader=1");
  ASSERT_TRUE(routed);
  EXPECT_EQ(routed->url, "http://127.0.0.1:8080/?hideHeader=1");
}

TEST_F(ServiceRoutingTest, LeavesOtherHostsAndNonHttpAlone) {
  routing.routeTo("http://127.0.0.1:8080");
  EXPECT_FALSE(routing.route("http://example.org/a").has_value());
  EXPECT_FALSE(routing.route("http://nottest/a").has_value());
  EXPECT_FALSE(routing.route("http://latest/a").has_value());
  EXPECT_FALSE(routing.route("ftp://www.vestavind.test/a").has_value());
  EXPECT_FALSE(routing.route("not a url").has_value());
  EXPECT_FALSE(routing.route("").has_value());
}

TEST_F(ServiceRoutingTest, BasePathPrefixAndCustomDomains) {
  routing.routeTo("http://localhost:9/svc/", {".Example.com"});
  auto routed = routing.route("http://a.example.com/x");
  ASSERT_TRUE(routed);
  EXPECT_EQ(routed->url, "http://localhost:9/svc/x");
  EXPECT_FALSE(routing.route("http://www.vestavind.test/").has_value());
}

TEST_F(ServiceRoutingTest, RejectsBadBase) {
  EXPECT_THROW(routing.routeTo("localhost:8080"), InvalidArgumentException);
  EXPECT_THROW(routing.routeTo("ftp://h/"), InvalidArgumentException);
  EXPECT_FALSE(routing.isActive());
}

}  // namespace
}  // namespace platform
