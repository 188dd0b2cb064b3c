#include "platform/error.hpp"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Error, MessagePrefersErrorThenLocalizedDescriptionThenDomainAndCode) {
  EXPECT_EQ(makeError("Backend", 101, "invalid login credentials").message(), "invalid login credentials");
  EXPECT_EQ(Error("X", 1, Value::dictionary({{"NSLocalizedDescription", "described"}})).message(), "described");
  EXPECT_EQ(Error("X", 1, Value::dictionary({{"error", 5}})).message(), "X error 1");
  EXPECT_EQ(Error("Backend", 100).message(), "Backend error 100");
  EXPECT_EQ(makeError("Backend", 120, "cache miss").description(),
            "Error Domain=Backend Code=120 UserInfo={\n    error = \"cache miss\";\n}");
  EXPECT_EQ(makeError("A", 1, "m"), makeError("A", 1, "m"));
  EXPECT_NE(makeError("A", 1, "m"), makeError("A", 2, "m"));
  EXPECT_NE(makeError("A", 1, "m"), makeError("A", 1, "n"));
}

}  // namespace
}  // namespace platform
