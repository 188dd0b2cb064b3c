#pragma once
// Where the file transport's connections come from: a factory per host, and
// a default one that opens TCP connections (TLS for "https") and keeps idle
// kept-alive ones for the next transfer to the same origin. Everything but
// the registration runs on the transport's network thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace backend::net {

// One connected byte stream. Network thread only; at most one read and one
// write pending at a time.
class ByteStream {
 public:
  using Completion = std::function<void(std::error_code error, std::size_t bytes)>;
  virtual ~ByteStream() = default;
  // Reads at least one byte; asio::error::eof at the end of the stream.
  virtual void readSome(char* buffer, std::size_t capacity, Completion done) = 0;
  virtual void writeSome(const char* bytes, std::size_t length, Completion done) = 0;
  // Ends pending operations (they complete with an error) and closes.
  virtual void close() = 0;
  // False when the peer has closed or sent something unasked while idle.
  virtual bool isUsable() const = 0;
};

using ConnectCompletion = std::function<void(std::error_code error, std::unique_ptr<ByteStream> stream)>;

class HTTPCommandDelegate : public std::enable_shared_from_this<HTTPCommandDelegate> {
 public:
  HTTPCommandDelegate() = default;
  // Unregisters the hosts it still serves.
  virtual ~HTTPCommandDelegate();
  HTTPCommandDelegate(const HTTPCommandDelegate&) = delete;
  HTTPCommandDelegate& operator=(const HTTPCommandDelegate&) = delete;

  // Opens a new stream for `url`; `done` runs on the network thread.
  virtual void connect(const std::string& url, ConnectCompletion done) = 0;
  // An idle kept-alive stream to the URL's origin that still looks usable,
  // or nullptr. The default keeps none.
  virtual std::unique_ptr<ByteStream> takeIdle(const std::string& url);
  // Takes back a stream whose last answer ended cleanly, for reuse by the
  // next transfer to the same origin. The default closes it.
  virtual void recycle(const std::string& url, std::unique_ptr<ByteStream> stream);

  // The factory registered for the URL's host, else the default one.
  static std::shared_ptr<HTTPCommandDelegate> delegateForURL(std::string_view url);
  static void connectToUrl(const std::string& url, ConnectCompletion done);
  // Registers a factory for a host (nullptr removes the host's entry). The
  // registry holds factories weakly: one that goes away stops serving.
  static void setDelegate(const std::shared_ptr<HTTPCommandDelegate>& delegate, const std::string& host);
  // Registers this factory for `host`.
  void delegateForHost(const std::string& host);
  // Unregisters every host this factory serves.
  void detach();

  // The process-wide default factory.
  static std::shared_ptr<HTTPCommandDelegate> defaultDelegate();
  // A factory like the default one that connects every URL to one address
  // instead of the URL's own (a host routed to a local server); the Host
  // field still names the URL's host.
  static std::shared_ptr<HTTPCommandDelegate> routedTo(std::string address, std::uint16_t port);
  // Certificates (a PEM file) that TLS connections of the default factories
  // trust besides the system's; empty to trust the system's only. Meant
  // for start-up and tests.
  static void setAdditionalTrustedCertificates(std::string pemPath);

 private:
  std::vector<std::string> delegatedHosts_;
};

}  // namespace backend::net
