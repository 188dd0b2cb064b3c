#include "accepted_connections.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace devserver {

namespace {

int localPort(int fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return -1;
}

bool isListening(int fd) {
  int listening = 0;
  socklen_t length = sizeof listening;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening != 0;
}

}  // namespace

void endReadingOnAcceptedConnections(int port) {
  // Only sockets of this server have `port` as their local port: the
  // process's own clients of it have it as their peer's.
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    const std::string name = entry.path().filename().string();
    char* end = nullptr;
    const long fd = std::strtol(name.c_str(), &end, 10);
    if (end == name.c_str() || *end != '\0') continue;
    const int socket = static_cast<int>(fd);
    if (localPort(socket) == port && !isListening(socket)) shutdown(socket, SHUT_RD);
  }
}

}  // namespace devserver
