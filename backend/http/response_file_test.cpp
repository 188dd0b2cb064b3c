#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include "backend/http/http_request_operation.hpp"
#include "loopback_server_test_support.hpp"
#include "platform/exceptions.hpp"

namespace backend::http {
namespace {

using backend::testing::LoopbackServer;
namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() : path_(fs::temp_directory_path() / ("download-" + std::to_string(::getpid()) + "-" + std::to_string(counter++))) {
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  static inline int counter = 0;
  fs::path path_;
};

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string binaryBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 167 + 3) % 256);
  return bytes;
}

std::shared_ptr<HTTPRequestOperation> download(const LoopbackServer& server, const std::string& path) {
  URLRequest request;
  request.url = server.url() + "/file";
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

// Serves the first half of `body` and then holds the connection until
// released; a request with "Range" gets `answer` instead.
struct HalfThenHold {
  explicit HalfThenHold(std::string body) : body(std::move(body)) {}
  std::string body;
  std::shared_ptr<std::promise<void>> release = std::make_shared<std::promise<void>>();
  std::shared_future<void> released = release->get_future().share();
  std::function<void(const httplib::Request&, httplib::Response&)> answer;

  LoopbackServer::Handler handler() {
    return [body = body, released = released, answer = answer](const httplib::Request& request, httplib::Response& response) {
      if (request.has_header("Range")) return answer(request, response);
      response.set_header("ETag", "\"v1\"");
      response.set_content_provider(body.size(), "application/octet-stream",
                                    [body, released](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                      if (offset > 0) return false;
                                      sink.write(body.data(), body.size() / 2);
                                      released.wait();
                                      return false;
                                    });
    };
  }
};

// Starts the download, pauses it once half of the body is on disk and lets
// the held connection go.
void startAndPauseAtHalf(const std::shared_ptr<HTTPRequestOperation>& operation, HalfThenHold& server) {
  auto half = std::make_shared<std::promise<void>>();
  auto target = static_cast<long long>(server.body.size() / 2);
  operation->setDownloadProgressBlock([half, target](std::uint64_t, long long total, long long) {
    if (total == target) half->set_value();
  });
  operation->start();
  half->get_future().wait();
  operation->pause();
  server.release->set_value();
}

TEST(ResponseFile, BodyGoesToTheFileNotToMemory) {
  LoopbackServer server;
  TempDir dir;
  auto body = binaryBytes(1 << 20);
  server.setHandler([body](const httplib::Request&, httplib::Response& response) {
    response.set_content(body, "application/octet-stream");
  });
  auto operation = download(server, dir / "out.bin");
  waitUntilFinished(operation, true);
  ASSERT_FALSE(operation->error());
  EXPECT_EQ(operation->responseFilePath(), std::optional<std::string>(dir / "out.bin"));
  EXPECT_TRUE(operation->responseData().empty());
  EXPECT_TRUE(contents(dir / "out.bin") == body);
}

TEST(ResponseFile, A206ContinuesTheFileWhereThePauseLeftIt) {
  LoopbackServer server;
  TempDir dir;
  HalfThenHold holder(binaryBytes(200000));
  auto rangeSeen = std::make_shared<std::string>();
  // The server cuts the range and writes "206" and "Content-Range" itself.
  holder.answer = [body = holder.body, rangeSeen](const httplib::Request& request, httplib::Response& response) {
    *rangeSeen = request.get_header_value("Range") + " " + request.get_header_value("If-Range");
    response.set_content(body, "application/octet-stream");
  };
  server.setHandler(holder.handler());
  auto operation = download(server, dir / "resumed.bin");
  startAndPauseAtHalf(operation, holder);
  EXPECT_TRUE(operation->isPaused());
  waitUntilFinished(operation, false);

  ASSERT_FALSE(operation->error()) << operation->error()->description();
  EXPECT_EQ(*rangeSeen, "bytes=100000- \"v1\"");
  EXPECT_EQ(operation->response()->statusCode, 206);
  EXPECT_EQ(operation->offsetContentLength(), 100000);
  EXPECT_EQ(operation->totalContentLength(), 200000);
  EXPECT_TRUE(contents(dir / "resumed.bin") == holder.body);
}

// A bare HTTP server that answers connection i with answers[i] (written as
// raw bytes, then the connection is closed). Unlike the loopback server it
// never cuts a body to the requested range.
class ScriptedServer {
 public:
  using Answer = std::function<void(int socket)>;
  explicit ScriptedServer(std::vector<Answer> answers) : answers_(std::move(answers)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 4);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~ScriptedServer() {
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> requestHeads() const {
    std::lock_guard lock(mutex_);
    return heads_;
  }

  static void send(int socket, std::string_view bytes) {
    while (!bytes.empty()) {
      auto sent = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) return;
      bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
  }

 private:
  void serve() {
    for (auto& answer : answers_) {
      int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (socket < 0) return;
      std::string head;
      char c;
      while (head.find("\r\n\r\n") == std::string::npos && ::recv(socket, &c, 1, 0) == 1) head.push_back(c);
      {
        std::lock_guard lock(mutex_);
        heads_.push_back(head);
      }
      answer(socket);
      ::close(socket);
    }
  }

  std::vector<Answer> answers_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> heads_;
};

TEST(ResponseFile, AFullAnswerAfterAPauseReplacesTheFileEntirely) {
  TempDir dir;
  auto old = binaryBytes(200000);
  auto release = std::make_shared<std::promise<void>>();
  auto released = release->get_future().share();
  ScriptedServer server({
      [&](int socket) {
        ScriptedServer::send(socket, "HTTP/1.1 200 OK\r\nContent-Length: 200000\r\nETag: \"v1\"\r\n\r\n");
        ScriptedServer::send(socket, std::string_view(old).substr(0, 100000));
        released.wait();
      },
      [](int socket) {
        // A shorter new version, whole, although the rest was asked for.
        ScriptedServer::send(socket, "HTTP/1.1 200 OK\r\nContent-Length: 7\r\nConnection: close\r\n\r\nchanged");
      },
  });
  URLRequest request;
  request.url = server.url() + "/file";
  auto operation = HTTPRequestOperation::create(std::move(request));
  operation->setResponseFilePath(dir / "replaced.bin");
  auto half = std::make_shared<std::promise<void>>();
  operation->setDownloadProgressBlock([half](std::uint64_t, long long total, long long) {
    if (total == 100000) half->set_value();
  });
  operation->start();
  half->get_future().wait();
  operation->pause();
  release->set_value();
  waitUntilFinished(operation, false);

  ASSERT_FALSE(operation->error()) << operation->error()->description();
  EXPECT_NE(server.requestHeads().at(1).find("Range: bytes=100000-"), std::string::npos);
  auto replaced = contents(dir / "replaced.bin");
  EXPECT_EQ(replaced.size(), 7u);
  EXPECT_TRUE(replaced == "changed");
}

TEST(ResponseFile, PathsThatCannotBeWrittenBecomeTheOperationsError) {
  LoopbackServer server;
  TempDir dir;
  std::ofstream(dir / "victim") << "keep";
  fs::create_symlink(dir / "victim", dir / "link");
  ::mkfifo((dir / "fifo").c_str(), 0600);
  for (const auto& path : {dir / "link", dir / "missing-dir/out", dir / "fifo", dir / ""}) {
    auto operation = download(server, path);
    waitUntilFinished(operation, true);
    ASSERT_TRUE(operation->error()) << path;
    EXPECT_EQ(operation->error()->code, kURLErrorCannotCreateFile) << path;
    EXPECT_EQ(operation->error()->userInfo[kFilePathErrorKey].asString(), path);
  }
  EXPECT_EQ(contents(dir / "victim"), "keep");

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
