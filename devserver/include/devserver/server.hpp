#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace devserver {

class PushGateway;

// One local process playing every hosted service: the publisher's sites, the
// backend service, the analytics collector and the push gateway. Requests are
// told apart by their Host header (or the host of an absolute-form target, so
// the server also works as the HTTP proxy of a web view). The admin
// endpoints ("/_admin/...") answer only peers on this machine that address
// the server by its own name.
class Server {
 public:
  struct Options {
    std::string host = "127.0.0.1";  // address to bind
    int port = 0;                     // 0 picks a free port
    // Folder for persistent data; empty means a fresh temporary folder that
    // is removed again when the server is destroyed.
    std::filesystem::path dataDir;
    std::uint64_t seed = 1;  // drives the generated site content
    bool quiet = true;       // false logs one line per request to stderr
    // Backend applications (id, client key) accepted besides the built-in one.
    std::vector<std::pair<std::string, std::string>> applications;
    // How far a signed request's "oauth_timestamp" may be from the clock.
    std::int64_t signatureWindowSeconds = 15 * 60;
  };

  // Prepares the server; nothing listens until start(). Throws
  // std::runtime_error when the data folder cannot be created.
  explicit Server(Options options);
  // Stops the server if it runs.
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds the address and serves on threads of its own. Returns once the
  // socket listens; warns on stderr when the address is not a loopback one.
  // Throws std::runtime_error when binding fails or when the server was
  // started before.
  void start();
  // Stops serving: wakes held push streams and delayed answers, closes the
  // socket and joins every thread. Idempotent; safe from any thread except
  // a request handler of this server.
  void stop();

  // The bound port (valid after start()).
  int port() const;
  // "http://HOST:PORT" of the bound socket (valid after start()).
  std::string baseUrl() const;
  std::filesystem::path dataDirectory() const;
  // The push gateway, owned by the server and alive as long as it.
  PushGateway& pushGateway();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace devserver
