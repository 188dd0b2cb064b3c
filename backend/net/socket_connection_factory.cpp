// The default connection factory: TCP connections, TLS for "https" (the
// system's trust store, the server's name checked), and a small pool of idle
// kept-alive connections per origin.

#include <sys/socket.h>

#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl.hpp>
#include <openssl/ssl.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "backend/net/http_command_delegate.hpp"
#include "networking_utils.hpp"

namespace backend::net {
namespace {

using asio::ip::tcp;

// Idle connections kept per origin; more are closed.
constexpr std::size_t kMaxIdlePerOrigin = 4;

// True when nothing is waiting on an idle socket: a closed peer reads as
// end of stream, and unasked bytes mean the stream is out of step.
bool isIdleSocketUsable(int fd) {
  char byte;
  const ssize_t got = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

class TcpStream final : public ByteStream {
 public:
  explicit TcpStream(tcp::socket socket) : socket_(std::move(socket)) {}
  void readSome(char* buffer, std::size_t capacity, Completion done) override {
    socket_.async_read_some(asio::buffer(buffer, capacity), std::move(done));
  }
  void writeSome(const char* bytes, std::size_t length, Completion done) override {
    socket_.async_write_some(asio::buffer(bytes, length), std::move(done));
  }
  void close() override {
    std::error_code ignored;
    socket_.close(ignored);
  }
  bool isUsable() const override {
    return socket_.is_open() && isIdleSocketUsable(const_cast<tcp::socket&>(socket_).native_handle());
  }

 private:
  tcp::socket socket_;
};

class TlsStream final : public ByteStream {
 public:
  explicit TlsStream(std::unique_ptr<asio::ssl::stream<tcp::socket>> stream) : stream_(std::move(stream)) {}
  void readSome(char* buffer, std::size_t capacity, Completion done) override {
    stream_->async_read_some(asio::buffer(buffer, capacity), std::move(done));
  }
  void writeSome(const char* bytes, std::size_t length, Completion done) override {
    stream_->async_write_some(asio::buffer(bytes, length), std::move(done));
  }
  void close() override {
    std::error_code ignored;
    stream_->lowest_layer().close(ignored);
  }
  bool isUsable() const override {
    auto& socket = stream_->lowest_layer();
    return socket.is_open() && SSL_pending(stream_->native_handle()) == 0 &&
           isIdleSocketUsable(socket.native_handle());
  }

 private:
  std::unique_ptr<asio::ssl::stream<tcp::socket>> stream_;
};

struct TrustSettings {
  std::mutex mutex;
  std::string additionalCertificates;
  std::shared_ptr<asio::ssl::context> context;
};

TrustSettings& trustSettings() {
  static TrustSettings settings;
  return settings;
}

std::shared_ptr<asio::ssl::context> tlsContext() {
  TrustSettings& settings = trustSettings();
  std::lock_guard lock(settings.mutex);
  if (!settings.context) {
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_client);
    std::error_code ignored;
    context->set_default_verify_paths(ignored);
    if (!settings.additionalCertificates.empty()) context->load_verify_file(settings.additionalCertificates, ignored);
    context->set_verify_mode(asio::ssl::verify_peer);
    settings.context = std::move(context);
  }
  return settings.context;
}

class SocketConnectionFactory final : public HTTPCommandDelegate {
 public:
  // With an address, every URL connects there instead of to its own host.
  // Starts the network thread first, so that it outlives the idle sockets
  // of a factory that lives until the process exits.
  explicit SocketConnectionFactory(std::optional<std::pair<std::string, std::uint16_t>> address = std::nullopt)
      : address_(std::move(address)) {
    NetworkThread::shared();
  }

  void connect(const std::string& url, ConnectCompletion done) override {
    auto endpoint = endpointForURL(url);
    if (!endpoint || (endpoint->scheme != "http" && endpoint->scheme != "https")) {
      return done(std::make_error_code(std::errc::invalid_argument), nullptr);
    }
    auto& context = NetworkThread::shared().context();
    auto resolver = std::make_shared<tcp::resolver>(context);
    const std::string host = address_ ? address_->first : endpoint->host;
    const std::string port = std::to_string(address_ ? address_->second : endpoint->port);
    resolver->async_resolve(host, port, [resolver, endpoint = *endpoint, done = std::move(done)](
                                            std::error_code error, tcp::resolver::results_type results) mutable {
      if (error) return done(error, nullptr);
      connectTo(std::move(endpoint), results, std::move(done));
    });
  }

  void recycle(const std::string& url, std::unique_ptr<ByteStream> stream) override {
    auto endpoint = endpointForURL(url);
    if (!endpoint) return stream->close();
    auto& idle = idle_[originOf(*endpoint)];
    if (idle.size() >= kMaxIdlePerOrigin) return stream->close();
    idle.push_back(std::move(stream));
  }

  std::unique_ptr<ByteStream> takeIdle(const std::string& url) override {
    auto endpoint = endpointForURL(url);
    if (!endpoint) return nullptr;
    auto found = idle_.find(originOf(*endpoint));
    if (found == idle_.end()) return nullptr;
    auto& streams = found->second;
    while (!streams.empty()) {
      auto stream = std::move(streams.back());
      streams.pop_back();
      if (stream->isUsable()) return stream;
      stream->close();
    }
    return nullptr;
  }

 private:
  static std::string originOf(const Endpoint& endpoint) {
    return endpoint.scheme + "://" + endpoint.host + ":" + std::to_string(endpoint.port);
  }

  static void connectTo(Endpoint endpoint, const tcp::resolver::results_type& results, ConnectCompletion done) {
    auto& context = NetworkThread::shared().context();
    if (endpoint.scheme == "https") return connectSecurely(std::move(endpoint), results, std::move(done));
    auto socket = std::make_shared<tcp::socket>(context);
    asio::async_connect(*socket, results, [socket, done = std::move(done)](std::error_code error, const tcp::endpoint&) {
      if (error) return done(error, nullptr);
      socket->set_option(tcp::no_delay(true), error);
      done({}, std::make_unique<TcpStream>(std::move(*socket)));
    });
  }

  static void connectSecurely(Endpoint endpoint, const tcp::resolver::results_type& results, ConnectCompletion done) {
    auto& context = NetworkThread::shared().context();
    auto tls = tlsContext();
    auto stream = std::make_shared<std::unique_ptr<asio::ssl::stream<tcp::socket>>>(
        std::make_unique<asio::ssl::stream<tcp::socket>>(context, *tls));
    auto& ssl = **stream;
    SSL_set_tlsext_host_name(ssl.native_handle(), endpoint.host.c_str());
    ssl.set_verify_callback(asio::ssl::host_name_verification(endpoint.host));
    asio::async_connect(ssl.lowest_layer(), results,
                        [stream, tls, done = std::move(done)](std::error_code error, const tcp::endpoint&) mutable {
                          if (error) return done(error, nullptr);
                          (*stream)->lowest_layer().set_option(tcp::no_delay(true), error);
                          (*stream)->async_handshake(asio::ssl::stream_base::client,
                                                     [stream, tls, done = std::move(done)](std::error_code error) {
                                                       if (error) return done(error, nullptr);
                                                       done({}, std::make_unique<TlsStream>(std::move(*stream)));
                                                     });
                        });
  }

  std::optional<std::pair<std::string, std::uint16_t>> address_;
  // Network thread only.
  std::map<std::string, std::vector<std::unique_ptr<ByteStream>>> idle_;
};

}  // namespace

std::shared_ptr<HTTPCommandDelegate> HTTPCommandDelegate::defaultDelegate() {
  static const auto instance = std::make_shared<SocketConnectionFactory>();
  return instance;
}

std::shared_ptr<HTTPCommandDelegate> HTTPCommandDelegate::routedTo(std::string address, std::uint16_t port) {
  return std::make_shared<SocketConnectionFactory>(std::make_pair(std::move(address), port));
}

void HTTPCommandDelegate::setAdditionalTrustedCertificates(std::string pemPath) {
  TrustSettings& settings = trustSettings();
  std::lock_guard lock(settings.mutex);
  settings.additionalCertificates = std::move(pemPath);
  settings.context.reset();
}

}  // namespace backend::net
