#pragma once
// A bare HTTP/1.1 server on loopback for tests that need to script the
// exact bytes of an answer (a "206" the server does not compute itself, a
// connection held open mid-body). One thread per connection, one request
// per connection; every thread is joined when the server goes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace backend::testing {

class RawHTTPServer {
 public:
  // Runs on the connection's thread with the request head (request line and
  // headers, body already read); writes the answer to `socket`, which is
  // closed afterwards.
  using Handler = std::function<void(const std::string& head, int socket)>;

  explicit RawHTTPServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~RawHTTPServer() {
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    ::close(listener_);
    for (auto& thread : connections_) thread.join();
  }
  RawHTTPServer(const RawHTTPServer&) = delete;
  RawHTTPServer& operator=(const RawHTTPServer&) = delete;

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
  void acceptLoop() {
    for (;;) {
      int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (socket < 0) return;
      // Only this thread adds; the destructor joins after this loop ended.
      connections_.emplace_back([this, socket] { serve(socket); });
    }
  }

  void serve(int socket) {
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && ::recv(socket, &c, 1, 0) == 1) head.push_back(c);
    // Read the body too: closing with unread bytes would reset the answer.
    for (auto remaining = contentLength(head); remaining > 0 && ::recv(socket, &c, 1, 0) == 1;) --remaining;
    {
      std::lock_guard lock(mutex_);
      heads_.push_back(head);
    }
    handler_(head, socket);
    ::close(socket);
  }

  static std::size_t contentLength(const std::string& head) {
    for (std::size_t line = head.find("\r\n"); line != std::string::npos; line = head.find("\r\n", line + 2)) {
      static constexpr std::string_view kName = "Content-Length:";
      if (::strncasecmp(head.c_str() + line + 2, kName.data(), kName.size()) == 0) {
        return std::stoul(head.substr(line + 2 + kName.size()));
      }
    }
    return 0;
  }

  Handler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::thread acceptor_;
  std::vector<std::thread> connections_;
  mutable std::mutex mutex_;
  std::vector<std::string> heads_;
};

}  // namespace backend::testing
