#pragma once
// A real HTTP server of another make for the transport's tests: nginx as a
// child process on free loopback ports (one plain, one TLS with a fresh
// self-signed certificate for "localhost"), configured and rooted in a
// scratch directory, stopped when the object goes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/eventually.hpp"
#include "support/newsreader_process.hpp"
#include "support/scratch_directory.hpp"

namespace backend::testing {

class NginxServer {
 public:
  NginxServer() {
    dir_ = scratch_.path();
    std::filesystem::create_directories(dir_ / "www");
    std::filesystem::create_directories(dir_ / "tmp");
    makeCertificate();
    port_ = freePort();
    tlsPort_ = freePort();
    writeConfiguration();
    process_ = std::make_unique<test_support::NewsreaderProcess>(
        nginxProgram(), std::vector<std::string>{"-e", (dir_ / "error.log").string(), "-p", dir_.string(), "-c",
                                                 (dir_ / "nginx.conf").string()});
    const bool ready = test_support::eventually([this] { return accepts(port_) && accepts(tlsPort_); });
    if (!ready) throw std::runtime_error("nginx did not start: " + test_support::fileContents(dir_ / "error.log"));
  }
  ~NginxServer() { process_.reset(); }  // ends nginx
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::string tlsUrl(const std::string& path) const { return "https://localhost:" + std::to_string(tlsPort_) + path; }
  // Files below it are served.
  std::filesystem::path root() const { return dir_ / "www"; }
  std::filesystem::path certificate() const { return dir_ / "cert.pem"; }
  // One line per request: "<method> <uri> <status> <connection> <request number on it>".
  std::vector<std::string> accessLog() const {
    std::vector<std::string> lines;
    std::istringstream text(test_support::fileContents(dir_ / "access.log"));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }

 private:
  static std::string nginxProgram() {
    for (const char* candidate : {"/usr/sbin/nginx", "/usr/bin/nginx"}) {
      if (::access(candidate, X_OK) == 0) return candidate;
    }
    throw std::runtime_error("nginx is not installed (scripts/install-deps.sh installs it)");
  }

  static int freePort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
  }

  static bool accepts(int port) {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return connected;
  }

  void makeCertificate() {
    test_support::NewsreaderProcess openssl(
        "/usr/bin/openssl",
        {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
         "/CN=localhost", "-addext", "subjectAltName=DNS:localhost", "-keyout", (dir_ / "key.pem").string(), "-out",
         (dir_ / "cert.pem").string()});
    if (openssl.closeInputAndWait() != 0) throw std::runtime_error("openssl could not make a certificate");
  }

  void writeConfiguration() const {
    const std::string d = dir_.string();
    std::ofstream conf(dir_ / "nginx.conf");
    conf << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << d << "/nginx.pid;\n"
         << "error_log " << d << "/error.log;\nevents { worker_connections 64; }\nhttp {\n"
         << "  log_format conn '$request_method $uri $status $connection $connection_requests';\n"
         << "  access_log " << d << "/access.log conn;\n"
         << "  client_body_temp_path " << d << "/tmp/body;\n  proxy_temp_path " << d << "/tmp/proxy;\n"
         << "  fastcgi_temp_path " << d << "/tmp/fastcgi;\n  uwsgi_temp_path " << d << "/tmp/uwsgi;\n"
         << "  scgi_temp_path " << d << "/tmp/scgi;\n"
         << "  keepalive_timeout 60s;\n  default_type application/octet-stream;\n"
         << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    listen 127.0.0.1:" << tlsPort_ << " ssl;\n"
         << "    ssl_certificate " << d << "/cert.pem;\n    ssl_certificate_key " << d << "/key.pem;\n"
         << "    root " << d << "/www;\n  }\n}\n";
  }

  test_support::ScratchDirectory scratch_;
  std::filesystem::path dir_;
  int port_ = 0;
  int tlsPort_ = 0;
  std::unique_ptr<test_support::NewsreaderProcess> process_;
};

}  // namespace backend::testing
