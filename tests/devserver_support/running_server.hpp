#pragma once

#include <httplib.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "devserver/server.hpp"

namespace devserver::test {

// A server on an ephemeral loopback port for one test, and clients that
// address it as a given host, the way the reader's routing does.
class RunningServer {
 public:
  explicit RunningServer(std::uint64_t seed = 1) : server_(optionsWithSeed(seed)) { server_.start(); }

  Server& server() { return server_; }
  int port() const { return server_.port(); }

  // A client connected to the server; every request made through the
  // helpers below carries `host` as its Host header.
  std::unique_ptr<httplib::Client> client() const {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", server_.port());
    client->set_read_timeout(30, 0);
    return client;
  }

  httplib::Result get(const std::string& host, const std::string& path, httplib::Headers headers = {}) const {
    headers.emplace("Host", host);
    return client()->Get(path, headers);
  }

  httplib::Result post(const std::string& host, const std::string& path, const std::string& body,
                       httplib::Headers headers = {}, const std::string& type = "application/json") const {
    headers.emplace("Host", host);
    return client()->Post(path, headers, body, type);
  }

  // The JSON answer of an admin endpoint.
  nlohmann::json admin(const std::string& path) const {
    auto result = client()->Get(path);
    return result ? nlohmann::json::parse(result->body, nullptr, false) : nlohmann::json();
  }

 private:
  static Server::Options optionsWithSeed(std::uint64_t seed) {
    Server::Options options;
    options.seed = seed;
    return options;
  }

  Server server_;
};

}  // namespace devserver::test
