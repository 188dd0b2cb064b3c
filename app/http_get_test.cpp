#include "app/http_get.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/loopback_server.hpp"

namespace app {
namespace {

// A port that takes connections (the kernel completes them) but never answers.
class SilentPort {
 public:
  SilentPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd_, 8) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen";
    }
    port_ = ntohs(address.sin_port);
  }
  ~SilentPort() {
    if (client_ >= 0) ::close(client_);
    ::close(fd_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/pn/addDevice/00"; }

  // Takes the next connection, waiting at most 20 s for it.
  bool waitForConnection() {
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, 20000) != 1) return false;
    client_ = ::accept(fd_, nullptr, nullptr);
    return client_ >= 0;
  }

 private:
  int fd_ = -1;
  int client_ = -1;
  int port_ = 0;
};

TEST(HttpGet, CancellingEndsAWaitingGetAndLeavesLaterOnesAlone) {
  SilentPort silent;
  std::optional<HttpAnswer> answer = HttpAnswer{};
  const auto started = std::chrono::steady_clock::now();
  std::thread waiting([&] { answer = httpGet(silent.url(), {}, std::chrono::seconds(60)); });
  const bool connected = silent.waitForConnection();
  cancelOutstandingHttpGets();
  waiting.join();
  EXPECT_TRUE(connected);
  EXPECT_FALSE(answer);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));

  test_support::LoopbackServer server;
  server.page("/", "hei", "text/plain");
  const auto later = httpGet(server.url() + "/");
  ASSERT_TRUE(later);
  EXPECT_EQ(later->body, "hei");
}

}  // namespace
}  // namespace app
