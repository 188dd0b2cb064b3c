#include "support/loopback_server.hpp"

#include <gtest/gtest.h>

#include "support/eventually.hpp"
#include "support/scratch_directory.hpp"

namespace test_support {
namespace {

TEST(LoopbackServer, StopsWhenDestroyedRightAfterStarting) {
  // A stop that reached the server before its listener loop ran used to be
  // lost, and the join then waited for ever.
  for (int i = 0; i < 50; ++i) LoopbackServer server;
}

TEST(LoopbackServer, AnswersCannedPagesThenTheHandlerThen404AndRecordsEveryRequest) {
  LoopbackServer server;
  server.page("/a", "page a", "text/plain", 201);
  httplib::Client client("127.0.0.1", server.port());
  auto missing = client.Get("/nothing");
  server.setHandler([](const httplib::Request& request, httplib::Response& response) {
    response.set_content("handled " + request.path, "text/plain");
  });
  auto canned = client.Get("/a?x=1");
  auto handled = client.Post("/b", "body", "text/plain");

  ASSERT_TRUE(missing && canned && handled);
  EXPECT_EQ(missing->status, 404);
  EXPECT_EQ(canned->status, 201);
  EXPECT_EQ(canned->body, "page a");
  EXPECT_EQ(handled->body, "handled /b");
  ASSERT_TRUE(server.waitForRequests(3));
  const auto requests = server.requests();
  EXPECT_EQ(requests[1].path, "/a");
  EXPECT_EQ(requests[1].target, "/a?x=1");
  EXPECT_EQ(requests[2].method, "POST");
  EXPECT_EQ(requests[2].body, "body");
  EXPECT_EQ(requests[2].header("Content-Type"), "text/plain");
  server.clearRequests();
  EXPECT_EQ(server.requestCount(), 0u);
  EXPECT_EQ(server.url("/x"), "http://127.0.0.1:" + std::to_string(server.port()) + "/x");
}

TEST(Eventually, AnswersTrueOnceTheConditionHoldsAndFalseWhenTheBoundRunsOut) {
  int calls = 0;
  EXPECT_TRUE(eventually([&] { return ++calls == 3; }));
  EXPECT_EQ(calls, 3);
  EXPECT_FALSE(eventually([] { return false; }, std::chrono::milliseconds(5)));
}

TEST(ScratchDirectory, WritesFilesAndRemovesEverythingWhenItGoes) {
  std::filesystem::path kept;
  {
    ScratchDirectory directory;
    kept = directory.path();
    std::filesystem::create_directories(directory / "sub");
    EXPECT_EQ(fileContents(directory.file("sub/f", std::string("a\0b", 3))), std::string("a\0b", 3));
  }
  EXPECT_FALSE(std::filesystem::exists(kept));
}

}  // namespace
}  // namespace test_support
