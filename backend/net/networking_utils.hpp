#pragma once
// The transport's shared network thread and its small URL and text helpers.

#include <asio/io_context.hpp>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "backend/http/url.hpp"

namespace backend::net {

// One thread running one event loop for every transfer of the transport.
// Started on first use; stopped and joined when the process exits.
class NetworkThread {
 public:
  static NetworkThread& shared();
  ~NetworkThread();
  NetworkThread(const NetworkThread&) = delete;
  NetworkThread& operator=(const NetworkThread&) = delete;

  asio::io_context& context() noexcept { return context_; }
  bool isCurrent() const noexcept { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  NetworkThread();

  asio::io_context context_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::thread thread_;
};

// The request target of a URL: its path (percent-escaped where a byte may
// not stand in a request line, "/" when empty), then "?" and the query. The
// fragment stays with the client.
std::string pathComponentForURL(std::string_view url);
// The Host field: "host:port" when the URL names a port, else the host.
std::string hostComponentForURL(std::string_view url);
// The host to connect to (without IPv6 brackets) and the port (the URL's,
// else 443 for https and 80 otherwise); nullopt for a URL without a host or
// with a port that is not a number from 1 to 65535.
struct Endpoint {
  std::string scheme;
  std::string host;
  std::uint16_t port = 80;
};
std::optional<Endpoint> endpointForURL(std::string_view url);
// The text up to the first NUL byte, or nullopt when it is not valid UTF-8.
std::optional<std::string> stringWithUTF8Data(std::string_view bytes);
// Counts transfers in progress for the platform's activity indicator.
void setNetworkActivityIndicatorVisible(bool visible);

}  // namespace backend::net
