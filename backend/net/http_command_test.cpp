// The file transport's commands against a loopback server that scripts the
// exact bytes of each answer.

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "http_command.hpp"
#include "networking_utils.hpp"
#include "platform/run_loop.hpp"
#include "platform/sandbox.hpp"
#include "support/backend/raw_http_server.hpp"
#include "support/eventually.hpp"

namespace backend::net {
namespace {

using testing::RawHTTPServer;

// Holds answers back until released (for stalled and cancelled transfers).
class Gate {
 public:
  void wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

std::string pathOf(const std::string& head) {
  auto start = head.find(' ') + 1;
  return head.substr(start, head.find(' ', start) - start);
}

class HTTPCommandTest : public ::testing::Test {
 protected:
  void TearDown() override { gate_.open(); }

  void answer(const std::string& path, std::string text) {
    std::lock_guard lock(mutex_);
    answers_[path] = std::move(text);
  }

  std::mutex mutex_;
  std::map<std::string, std::string> answers_;
  Gate gate_;
  // Answers each path with its script; "/stall" waits for the gate.
  RawHTTPServer server_{[this](const std::string& head, int socket) {
    const std::string path = pathOf(head);
    if (path == "/stall") return gate_.wait();
    std::unique_lock lock(mutex_);
    auto found = answers_.find(path);
    const std::string text = found == answers_.end() ? std::string() : found->second;
    lock.unlock();
    RawHTTPServer::send(socket, text);
  }};

  std::shared_ptr<HTTPCommand> get(const std::string& path) { return HTTPCommand::getCommandWithURL(server_.url() + path); }
};

TEST_F(HTTPCommandTest, TheStatusFollowsTheAnswer) {
  struct Case {
    std::string answer;
    HTTPCommand::Status status;
    std::string body;
  };
  const std::map<std::string, Case> cases = {
      {"/ok", {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", HTTPCommand::kStatusSuccess, "ok"}},
      {"/missing", {"HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", HTTPCommand::kStatusHTTPError, "gone"}},
      {"/redirect", {"HTTP/1.1 302 Found\r\nLocation: /ok\r\nContent-Length: 0\r\n\r\n", HTTPCommand::kStatusHTTPError, ""}},
      {"/odd", {"HTTP/1.1 700 Odd\r\nContent-Length: 0\r\n\r\n", HTTPCommand::kStatusHTTPError, ""}},
      {"/informational", {"HTTP/1.1 150 Wait\r\nContent-Length: 0\r\n\r\n", HTTPCommand::kStatusRunning, ""}},
      {"/to-the-end", {"HTTP/1.1 200 OK\r\n\r\nall of it", HTTPCommand::kStatusSuccess, "all of it"}},
      {"/chunked", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", HTTPCommand::kStatusSuccess, "abc"}},
      {"/cut-short", {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhalf", HTTPCommand::kStatusNetworkError, ""}},
      {"/cut-chunked", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n", HTTPCommand::kStatusNetworkError, ""}},
      {"/bad-chunk", {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x\r\nabc\r\n0\r\n\r\n", HTTPCommand::kStatusNetworkError, ""}},
      {"/garbage", {std::string(40, '#'), HTTPCommand::kStatusNetworkError, ""}},
      {"/silence", {"", HTTPCommand::kStatusNetworkError, ""}},
  };
  for (const auto& [path, expected] : cases) answer(path, expected.answer);
  for (const auto& [path, expected] : cases) {
    auto command = get(path);
    command->send();
    EXPECT_TRUE(command->isFinished());
    EXPECT_EQ(command->status(), expected.status) << path;
    if (expected.status == HTTPCommand::kStatusNetworkError) {
      EXPECT_TRUE(command->networkError()) << path;
    } else {
      EXPECT_EQ(command->response().responseData(), expected.body) << path;
    }
  }
}

TEST(HTTPCommandEndpoint, AURLWithoutAPortUsesItsSchemesPort) {
  EXPECT_EQ(endpointForURL("http://files.test/x")->port, 80);
  EXPECT_EQ(endpointForURL("https://files.test/x")->port, 443);
}

TEST_F(HTTPCommandTest, AnUploadSendsTheWholeFormAndReportsItsProgress) {
  answer("/upload", "HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n");
  auto command = HTTPCommand::postCommandWithURL(server_.url() + "/upload");
  auto form = std::make_shared<MultipartRequest>();
  form->appendPartWithName("file", std::make_shared<MemoryInputStream>(std::string(100000, 'x')), 100000);
  command->setRequest(form);
  std::vector<int> progress;
  command->setUploadProgressBlock([&](int percent) { progress.push_back(percent); });
  command->setUsePersistentConnection(false);
  command->send();
  EXPECT_EQ(command->status(), HTTPCommand::kStatusSuccess);
  ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return !progress.empty() && progress.back() == 100; }, test_support::kEventuallyTimeout));
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  const std::string head = server_.requestHeads().front();
  EXPECT_NE(head.find("\r\nContent-Length: " + std::to_string(form->length()) + "\r\n"), std::string::npos);
  EXPECT_NE(head.find("\r\nConnection: close\r\n"), std::string::npos);
}

TEST_F(HTTPCommandTest, AStreamThatEndsEarlyFailsTheUpload) {
  answer("/upload", "HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n");
  auto command = HTTPCommand::postCommandWithURL(server_.url() + "/upload");
  auto form = std::make_shared<MultipartRequest>();
  form->appendPartWithName("file", std::make_shared<MemoryInputStream>("only this"), 5000);
  command->setRequest(form);
  command->send();
  EXPECT_EQ(command->status(), HTTPCommand::kStatusNetworkError);
  EXPECT_EQ(command->networkError()->code, kHTTPCommandErrorBodyEndedEarly);
}

TEST_F(HTTPCommandTest, AStalledTransferTimesOut) {
  auto command = get("/stall");
  command->setTimeout(0.2);
  command->send();
  EXPECT_EQ(command->status(), HTTPCommand::kStatusNetworkError);
  EXPECT_EQ(command->networkError()->code, kHTTPCommandErrorTimedOut);
}

TEST_F(HTTPCommandTest, CancellingWakesTheSenderAndTheStatusStays) {
  auto command = get("/stall");
  command->setTimeout(60);
  std::thread sender([&] { command->send(); });
  ASSERT_TRUE(test_support::eventually([&] { return !server_.requestHeads().empty(); }));
  command->cancel();
  sender.join();
  EXPECT_EQ(command->status(), HTTPCommand::kStatusCancelled);
  gate_.open();  // the server now closes the connection
  command->cancel();
  EXPECT_EQ(command->status(), HTTPCommand::kStatusCancelled);
  EXPECT_FALSE(command->networkError());

  auto early = get("/stall");
  early->cancel();
  early->send();
  EXPECT_EQ(early->status(), HTTPCommand::kStatusCancelled);
}

TEST_F(HTTPCommandTest, DownloadsReportProgressAndCanGoToAFile) {
  answer("/file", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nabcd");
  answer("/error", "HTTP/1.1 500 Oops\r\nContent-Length: 5\r\n\r\noops!");
  const auto target = std::filesystem::temp_directory_path() / ("http_command_test_" + std::to_string(::getpid()));
  std::vector<int> progress;
  auto command = get("/file");
  command->response().streamBodyToPath(target);
  command->response().setProgressBlock([&](int percent) { progress.push_back(percent); });
  command->send();
  EXPECT_EQ(command->status(), HTTPCommand::kStatusSuccess);
  EXPECT_EQ(platform::readFile(target), "abcd");
  EXPECT_FALSE(command->response().tempFilePath());
  ASSERT_TRUE(platform::RunLoop::main().runUntil([&] { return !progress.empty() && progress.back() == 100; }, test_support::kEventuallyTimeout));

  std::filesystem::remove(target);
  auto failed = get("/error");
  failed->response().streamBodyToPath(target);
  failed->send();
  EXPECT_EQ(failed->status(), HTTPCommand::kStatusHTTPError);
  EXPECT_FALSE(std::filesystem::exists(target)) << "an error page never takes the file's place";
  EXPECT_EQ(failed->response().responseData(), "oops!");
  auto temporary = *failed->response().tempFilePath();
  failed.reset();  // the network thread may still hold it for a moment
  EXPECT_TRUE(test_support::eventually([&] { return !std::filesystem::exists(temporary); }));
}

TEST_F(HTTPCommandTest, OnlyHttpAndHttpsURLsAreSent) {
  for (const std::string url : {"ftp://127.0.0.1/x", "file:///etc/passwd", "no url"}) {
    auto command = HTTPCommand::getCommandWithURL(url);
    command->send();
    EXPECT_EQ(command->status(), HTTPCommand::kStatusNetworkError) << url;
    EXPECT_EQ(command->networkError()->code, kHTTPCommandErrorBadURL) << url;
  }
}

}  // namespace
}  // namespace backend::net
