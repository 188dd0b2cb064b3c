#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "backend/http/http_request_operation.hpp"
#include "platform/exceptions.hpp"
#include "support/backend/files.hpp"
#include "support/backend/loopback_server.hpp"
#include "support/backend/raw_http_server.hpp"
#include "support/scratch_directory.hpp"

namespace backend::http {
namespace {

using backend::testing::binaryBytes;
using test_support::fileContents;
using backend::testing::LoopbackServer;
using backend::testing::RawHTTPServer;
using test_support::ScratchDirectory;
namespace fs = std::filesystem;

std::shared_ptr<HTTPRequestOperation> download(const std::string& url, const std::string& path) {
  URLRequest request;
  request.url = url + "/file";
  auto operation = HTTPRequestOperation::create(std::move(request));
  operation->setResponseFilePath(path);
  return operation;
}

void waitUntilFinished(const std::shared_ptr<HTTPRequestOperation>& operation, bool start) {
  std::promise<void> done;
  operation->whenFinished([&] { done.set_value(); });
  if (start) operation->start();
  else operation->resume();
  done.get_future().wait();
}

struct Resumed {
  std::shared_ptr<HTTPRequestOperation> operation;
  std::string requestHead;  // of the resumed request
};

// Downloads `body` to `path` from a server that sends its first half and
// holds the connection; pauses there, resumes, and lets `answer` answer the
// resumed request.
Resumed pauseAtHalfAndResume(const std::string& body, const std::string& path,
                             std::function<void(int socket)> answer) {
  auto release = std::make_shared<std::promise<void>>();
  auto released = release->get_future().share();
  RawHTTPServer server([&](const std::string& head, int socket) {
    if (head.find("\r\nRange:") != std::string::npos) return answer(socket);
    RawHTTPServer::send(socket, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                                    "\r\nETag: \"v1\"\r\n\r\n" + body.substr(0, body.size() / 2));
    released.wait();
  });
  auto operation = download(server.url(), path);
  auto half = std::make_shared<std::promise<void>>();
  auto target = static_cast<long long>(body.size() / 2);
  operation->setDownloadProgressBlock([half, target](std::uint64_t, long long total, long long) {
    if (total == target) half->set_value();
  });
  operation->start();
  half->get_future().wait();
  operation->pause();
  release->set_value();
  EXPECT_TRUE(operation->isPaused());
  waitUntilFinished(operation, false);
  return {operation, server.requestHeads().back()};
}

TEST(ResponseFile, BodyGoesToTheFileNotToMemory) {
  LoopbackServer server;
  ScratchDirectory dir;
  auto body = binaryBytes(1 << 20);
  server.setHandler([body](const httplib::Request&, httplib::Response& response) {
    response.set_content(body, "application/octet-stream");
  });
  auto operation = download(server.url(), dir / "out.bin");
  waitUntilFinished(operation, true);
  ASSERT_FALSE(operation->error());
  EXPECT_EQ(operation->responseFilePath(), std::optional<std::string>(dir / "out.bin"));
  EXPECT_TRUE(operation->responseData().empty());
  EXPECT_TRUE(fileContents(dir / "out.bin") == body);
}

TEST(ResponseFile, A206ContinuesTheFileWhereThePauseLeftIt) {
  ScratchDirectory dir;
  auto body = binaryBytes(200000);
  auto resumed = pauseAtHalfAndResume(body, dir / "resumed.bin", [&](int socket) {
    RawHTTPServer::send(socket,
                         "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 100000-199999/200000\r\n"
                         "Content-Length: 100000\r\n\r\n" + body.substr(100000));
  });
  auto& operation = resumed.operation;
  ASSERT_FALSE(operation->error()) << operation->error()->description();
  EXPECT_NE(resumed.requestHead.find("Range: bytes=100000-\r\n"), std::string::npos);
  EXPECT_NE(resumed.requestHead.find("If-Range: \"v1\"\r\n"), std::string::npos);
  EXPECT_EQ(operation->offsetContentLength(), 100000);
  EXPECT_EQ(operation->totalContentLength(), 200000);
  EXPECT_TRUE(fileContents(dir / "resumed.bin") == body);
}

TEST(ResponseFile, AFullAnswerAfterAPauseReplacesTheFileEntirely) {
  ScratchDirectory dir;
  auto resumed = pauseAtHalfAndResume(binaryBytes(200000), dir / "replaced.bin", [](int socket) {
    // A shorter new version, whole, although the rest was asked for.
    RawHTTPServer::send(socket, "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nchanged");
  });
  ASSERT_FALSE(resumed.operation->error()) << resumed.operation->error()->description();
  auto replaced = fileContents(dir / "replaced.bin");
  EXPECT_EQ(replaced.size(), 7u);
  EXPECT_TRUE(replaced == "changed");
}

TEST(ResponseFile, PathsThatCannotBeWrittenBecomeTheOperationsError) {
  LoopbackServer server;
  ScratchDirectory dir;
  std::ofstream(dir / "victim") << "keep";
  fs::create_symlink(dir / "victim", dir / "link");
  ::mkfifo((dir / "fifo").c_str(), 0600);
  for (const auto& path : {dir / "link", dir / "missing-dir/out", dir / "fifo", dir / ""}) {
    auto operation = download(server.url(), path);
    waitUntilFinished(operation, true);
    ASSERT_TRUE(operation->error()) << path;
    EXPECT_EQ(operation->error()->code, kURLErrorCannotCreateFile) << path;
    EXPECT_EQ(operation->error()->userInfo[kFilePathErrorKey].asString(), path);
  }
  EXPECT_EQ(fileContents(dir / "victim"), "keep");

  URLRequest request;
  request.url = server.url() + "/file";
  auto operation = HTTPRequestOperation::create(request);
  EXPECT_THROW(operation->setResponseFilePath(""), platform::InvalidArgumentException);
  EXPECT_THROW(operation->setResponseFilePath(std::string("a\0b", 3)), platform::InvalidArgumentException);
  waitUntilFinished(operation, true);
  EXPECT_THROW(operation->setResponseFilePath(dir / "late"), platform::InternalInconsistencyException);
}

}  // namespace
}  // namespace backend::http
