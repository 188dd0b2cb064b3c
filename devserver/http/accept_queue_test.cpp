#include "http/accept_queue.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "support/eventually.hpp"

namespace devserver {
namespace {

// Connections the kernel completed while nobody accepted them.
int completedConnections(const std::vector<int>& clients) {
  int completed = 0;
  for (int fd : clients) {
    pollfd poll{fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    if (::poll(&poll, 1, 0) == 1 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) {
      ++completed;
    }
  }
  return completed;
}

TEST(AcceptQueue, AWidenedQueueHoldsABurstOfConnectionsNobodyAcceptedYet) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  ASSERT_EQ(listen(listener, 1), 0);  // as short as a library may leave it

  ASSERT_TRUE(widenAcceptQueue(listener));
  std::vector<int> clients;
  for (int i = 0; i < 64; ++i) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    clients.push_back(fd);
  }
  // With the queue of one, all but two would sit waiting for SYN retries.
  EXPECT_TRUE(test_support::eventually([&] { return completedConnections(clients) == 64; }));
  for (int fd : clients) close(fd);
  close(listener);
}

}  // namespace
}  // namespace devserver
