#include "backend_fixture.hpp"

#include <gtest/gtest.h>

namespace devserver::backend::testing {
namespace {

// Nesting far deeper than any walk of it could go on a worker's stack. The
// thread sanitizer lexes each byte dozens of times slower, and its larger
// frames overflow at a tenth of the depth.
#if defined(__SANITIZE_THREAD__)
constexpr std::size_t kDeep = 50000;
#else
constexpr std::size_t kDeep = 500000;
#endif

std::string deeplyNested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::string deepObjectText(std::size_t depth) {
  std::string text;
  for (std::size_t i = 0; i < depth; ++i) text += "{\"a\":";
  return text + "1" + std::string(depth, '}');
}

using JsonDepthTest = BackendFixture;

// Each string parameter is parsed again; those parses are limited like the body.
TEST_F(JsonDepthTest, DeepJsonInsideStringParametersIsRefusedNotFollowed) {
  const std::string deepData = "{\"list\":" + deeplyNested(kDeep) + "}";
  EXPECT_EQ(errorCode("create", {{"classname", "Note"}, {"data", deepData}}), 107);
  EXPECT_EQ(errorCode("find", {{"classname", "Note"}, {"data", deepObjectText(kDeep)}}), 102);
  EXPECT_EQ(errorCode("find", {{"classname", "Note"}, {"where", "{\"$or\":" + deeplyNested(kDeep) + "}"}}), 102);
  EXPECT_EQ(errorCode("client_push", {{"data", deepObjectText(kDeep)}}), 107);
  EXPECT_EQ(errorCode("client_push", {{"data", "{\"alert\":\"x\"}"}, {"where", deepObjectText(kDeep)}}), 107);
  // A sub-query's constraints as text are limited the same way (read once there is an object to match).
  create("Note", {{"text", "one"}});
  Json inner{{"className", "Note"}, {"where", deepObjectText(kDeep)}};
  EXPECT_EQ(errorCode("find", {{"classname", "Note"}, {"data", {{"ref", {{"$inQuery", inner}}}}}}), 102);

  // Nesting within the limit still works, and the service carries on.
  std::string id = create("Note", Json::parse("{\"list\":" + deeplyNested(20) + "}"));
  EXPECT_EQ(get("Note", id)["list"].size(), 1u);
  Json stored = result("create", {{"classname", "Note"}, {"data", "{\"text\":\"as text\"}"}});
  EXPECT_EQ(get("Note", stored["data"]["objectId"])["text"], "as text");
}

}  // namespace
}  // namespace devserver::backend::testing
