#include "devserver/server.hpp"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "backend_bridge.hpp"
#include "collector/collector.hpp"
#include "devserver/push_gateway.hpp"
#include "faults/fault_injector.hpp"
#include "http/accepted_connections.hpp"
#include "http/answers.hpp"
#include "http/body_decoding.hpp"
#include "http/accept_queue.hpp"
#include "http/connection_workers.hpp"
#include "http/request_target.hpp"
#include "inspect/admin_endpoints.hpp"
#include "inspect/request_log.hpp"
#include "inspect/secret_redaction.hpp"
#include "push/push_endpoints.hpp"
#include "sites/publisher_sites.hpp"
#include "sites/push_provider.hpp"

namespace devserver {
namespace {

// Every connection keeps a worker while it is open, a held push stream for
// as long as the device listens. A worker starts for each connection that
// finds none free, up to the cap; the held streams and delays stay far below
// it, so they never leave a request waiting.
constexpr std::size_t kMaxWorkerThreads = 1024;
constexpr std::size_t kMaxPushStreams = 96;
constexpr std::size_t kKeepAliveRequests = 100;
// Injected delays hold workers too: at most this many at once.
constexpr int kMaxHeldDelays = 8;
constexpr std::size_t kMaxPayload = 32 * 1024 * 1024;
constexpr std::size_t kMaxDecodedBody = 64 * 1024 * 1024;
constexpr const char* kLibraryHeaders[] = {"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR", "LOCAL_PORT"};
// Where the Content-Encoding waits while the library reads the raw body.
constexpr const char* kStashedEncoding = "Devserver-Stashed-Content-Encoding";

bool isCollectorHost(const std::string& host) { return host == "ssl.analytics.test" || host == "www.analytics.test"; }
bool isBackendHost(const std::string& host) { return host == "api.backend.test" || host == "files.backend.test"; }

std::filesystem::path makeTemporaryDataDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "devserver-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary data folder");
  return pattern;
}

// The request's headers as the log keeps them: without the library's own
// and with credentials blanked.
std::vector<std::pair<std::string, std::string>> headersOf(const httplib::Request& request) {
  std::vector<std::pair<std::string, std::string>> headers;
  for (const auto& header : request.headers) {
    bool added = std::any_of(std::begin(kLibraryHeaders), std::end(kLibraryHeaders),
                             [&](const char* library) { return header.first == library; });
    if (!added) headers.emplace_back(header.first, isSecretHeader(header.first) ? kRedacted : header.second);
  }
  return headers;
}

bool isLoopbackPeer(const std::string& address) {
  return address == "::1" || address.rfind("127.", 0) == 0 || address.rfind("::ffff:127.", 0) == 0;
}

bool isJsonContentType(const std::string& type) {
  std::string lowered;
  for (char c : type.substr(0, type.find(';'))) {
    if (c != ' ') lowered += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lowered == "application/json";
}

// Replaces the answer's body by a provider that sends half of it and then
// fails, so the connection closes mid-answer.
void cutAnswer(httplib::Response& response) {
  std::string body = response.body.empty() ? std::string("connection closed mid-answer by an injected fault\n")
                                           : response.body;
  std::string type = response.get_header_value("Content-Type");
  response.headers.erase("Content-Type");
  response.body.clear();
  response.set_content_provider(body.size(), type.empty() ? "text/plain" : type,
                                [body](std::size_t, std::size_t, httplib::DataSink& sink) {
                                  sink.write(body.data(), body.size() / 2);
                                  return false;
                                });
}

}  // namespace

struct Server::Impl {
  explicit Impl(Options opts)
      : options(std::move(opts)),
        dataDir(options.dataDir.empty() ? makeTemporaryDataDir() : options.dataDir),
        ownsDataDir(options.dataDir.empty()),
        gateway(kMaxPushStreams),
        sites(options.seed, provider),
        backend(prepareDataDir(), gateway, std::chrono::seconds(options.signatureWindowSeconds)),
        pushEndpoints(gateway, stopping),
        admin(AdminServices{requestLog, collector, gateway, provider, faults, sites, backend}) {
    for (const auto& [id, key] : options.applications) backend.addApplication(id, key);
  }

  ~Impl() {
    stop();
    if (ownsDataDir) {
      std::error_code ignored;
      std::filesystem::remove_all(dataDir, ignored);
    }
  }

  const std::filesystem::path& prepareDataDir() {
    std::error_code error;
    std::filesystem::create_directories(dataDir, error);
    if (error || !std::filesystem::is_directory(dataDir)) {
      throw std::runtime_error("cannot use data folder " + dataDir.string() + ": " + error.message());
    }
    return dataDir;
  }

  void start() {
    if (started) throw std::runtime_error("the server was already started");
    started = true;
    warnIfReachableFromOutside();
    http.new_task_queue = [] { return new ConnectionWorkers(kMaxWorkerThreads); };
    // The library's default SO_REUSEPORT would let a second server share a
    // taken port silently; SO_REUSEADDR alone still allows a quick restart.
    http.set_socket_options([this](socket_t socket) {
      int yes = 1;
      setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
      if (boundPort == 0) listeningSocket = socket;  // the last one tried while binding is the bound one
    });
    // An answer goes out as headers then body: with Nagle's algorithm the
    // body would wait for the client's delayed acknowledgement (40 ms).
    http.set_tcp_nodelay(true);
    http.set_keep_alive_timeout(2);
    // Each new connection costs a handshake and a trip through the accept
    // queue; the library's default of 5 requests a connection made clients
    // reconnect hundreds of times a second under load.
    http.set_keep_alive_max_count(kKeepAliveRequests);
    http.set_payload_max_length(kMaxPayload);
    auto handler = [this](const httplib::Request& request, httplib::Response& response) {
      dispatch(request, response);
    };
    // The library refuses a POST without Content-Length, which HTTP reads as an
    // empty body (what "curl -X POST" sends); answer those before it reads.
    http.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
      stashContentEncoding(request);
      exposeRawFormData(request);
      if (!hasNoBody(request)) return httplib::Server::HandlerResponse::Unhandled;
      dispatch(request, response);
      return httplib::Server::HandlerResponse::Handled;
    });
    http.Get(".*", handler);
    http.Post(".*", handler);
    http.Put(".*", handler);
    http.Patch(".*", handler);
    http.Delete(".*", handler);
    http.Options(".*", handler);
    http.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request& request, httplib::Response& response) {
          return explainLibraryError(request, response);
        }));
    if (options.port == 0) {
      boundPort = http.bind_to_any_port(options.host);
    } else if (http.bind_to_port(options.host, options.port)) {
      boundPort = options.port;
    } else {
      boundPort = -1;
    }
    if (boundPort <= 0) {
      throw std::runtime_error("cannot listen on " + options.host + ":" + std::to_string(options.port) +
                               " (address in use or not available)");
    }
    widenAcceptQueue(listeningSocket);
    listener = std::thread([this] {
      http.listen_after_bind();
      listenerDone = true;
    });
    // stop() must not race the listener's start, or it would miss the running loop.
    while (!http.is_running() && !listenerDone) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  // The admin endpoints are safe only while nobody else can reach the server.
  void warnIfReachableFromOutside() const {
    const std::string& host = options.host;
    if (isLoopbackHost(host) || host == "::1") return;
    std::fprintf(stderr,
                 "devserver: warning: listening on %s, which other machines may reach; the services here "
                 "check little and keep test data (the admin endpoints still answer only this machine)\n",
                 host.c_str());
  }

  void stop() {
    std::lock_guard stopLock(stopMutex);
    if (!listener.joinable()) return;
    {
      // Under the delay lock, so a handler about to wait cannot miss the wake-up.
      std::lock_guard delayLock(delayMutex);
      stopping = true;
    }
    gateway.close();
    wakeDelays.notify_all();
    http.stop();
    endReadingOnAcceptedConnections(boundPort);
    listener.join();
  }

  // The library would inflate the body itself, but it takes a truncated
  // stream or an unknown encoding for a good body. Hiding the header makes it
  // hand over the raw bytes, which withDecodedBody() then decodes strictly.
  // The request object is the library's own mutable one, seen through const.
  static void stashContentEncoding(const httplib::Request& request) {
    auto& headers = const_cast<httplib::Headers&>(request.headers);
    auto encoding = headers.find("Content-Encoding");
    if (encoding == headers.end()) return;
    std::string value = encoding->second;
    headers.erase("Content-Encoding");
    headers.emplace(kStashedEncoding, value);
  }

  // The library parses form posts itself and refuses the file clients' form
  // (it opens with CR LF before the first boundary, as the format allows).
  // Renaming the type hands the raw body to the storage host, which parses it.
  static void exposeRawFormData(const httplib::Request& request) {
    auto& headers = const_cast<httplib::Headers&>(request.headers);
    auto type = headers.find("Content-Type");
    constexpr std::string_view kForm = "multipart/form-data";
    if (type == headers.end() || type->second.rfind(kForm, 0) != 0) return;
    std::string renamed = "application/x-raw-form-data" + type->second.substr(kForm.size());
    headers.erase("Content-Type");
    headers.emplace("Content-Type", renamed);
  }

  // The request with its body decoded and its Content-Encoding header back;
  // nothing (and `response` filled with the reason) when the body cannot be decoded.
  static std::optional<httplib::Request> withDecodedBody(const httplib::Request& request,
                                                         httplib::Response& response) {
    httplib::Request decoded = request;
    std::string encoding = request.get_header_value(kStashedEncoding);
    decoded.headers.erase(kStashedEncoding);
    decoded.headers.emplace("Content-Encoding", encoding);
    if (request.body.empty()) return decoded;  // nothing was encoded
    DecodedBody body = decodeBody(encoding, request.body, kMaxDecodedBody);
    if (body.status != 200) {
      answerError(response, body.status, body.error);
      return std::nullopt;
    }
    decoded.body = std::move(body.body);
    return decoded;
  }

  static bool hasNoBody(const httplib::Request& request) {
    bool bodyMethod = request.method == "POST" || request.method == "PUT" || request.method == "PATCH";
    return bodyMethod && !request.has_header("Content-Length") && !request.has_header("Transfer-Encoding");
  }

  // Answers the HTTP library's own refusals (unreadable request line,
  // oversized headers, undecodable body) with a message instead of an empty body.
  static httplib::Server::HandlerResponse explainLibraryError(const httplib::Request& request,
                                                              httplib::Response& response) {
    if (!response.body.empty() || response.content_length_ > 0) return httplib::Server::HandlerResponse::Unhandled;
    std::string message;
    switch (response.status) {
      case 400:
        message = "bad request: the request line, a header or the body could not be read "
                  "(each header line is limited to 8 KiB)";
        break;
      case 413: message = "payload too large"; break;
      case 414: message = "request target too long"; break;
      default: message = "request refused"; break;
    }
    answerError(response, response.status, message);
    return httplib::Server::HandlerResponse::Handled;
  }

  void dispatch(const httplib::Request& received, httplib::Response& response) {
    std::optional<httplib::Request> decoded;
    if (received.has_header(kStashedEncoding)) {
      decoded = withDecodedBody(received, response);
      if (!decoded) {
        logLine(received, received.get_header_value("Host"), response.status);
        return;
      }
    }
    const httplib::Request& request = decoded ? *decoded : received;
    TargetResolution resolution = resolveTarget(request.path, request.get_header_value("Host"));
    if (!resolution.target) {
      answerError(response, 400, resolution.error);
      logLine(request, "?", response.status);
      return;
    }
    RequestTarget target = *resolution.target;
    if (target.host.empty()) target.host = options.host;  // HTTP/1.0 without Host: the server itself
    if (target.path == "/_admin" || target.path.rfind("/_admin/", 0) == 0) {
      handleAdmin(request, target, response);
      logLine(request, target.host, response.status);
      return;
    }
    std::uint64_t sequence = requestLog.add(LoggedRequest{0, RequestLog::now(), request.method, target.host,
                                                          target.path, request.target, target.absoluteForm,
                                                          headersOf(request), redactSecrets(request.body), false, 0});
    std::optional<Fault> fault = faults.take(target.host, target.path);
    bool delayRefused = fault && fault->delay.count() > 0 && !holdInjectedDelay(fault->delay);
    if (delayRefused) {
      answerError(response, 503, "injected delay refused: " + std::to_string(kMaxHeldDelays) +
                                     " delayed requests are already being held");
    } else if (fault && fault->status != 0) {
      answerError(response, fault->status, "injected fault: status " + std::to_string(fault->status));
    } else {
      route(request, target, response);
    }
    if (fault && fault->closeMidAnswer) cutAnswer(response);
    int status = response.status == -1 ? 200 : response.status;
    requestLog.setStatus(sequence, status);
    logLine(request, target.host, status);
  }

  // A web page must not drive the admin endpoints: they answer only peers on
  // this machine that name the server itself, and take only JSON bodies
  // (which a page cannot post across sites without asking first).
  void handleAdmin(const httplib::Request& request, const RequestTarget& target, httplib::Response& response) {
    if (!isLoopbackPeer(request.remote_addr) || !isOwnHost(target.host)) {
      answerError(response, 403, "the admin endpoints answer only on the server's own address, from this machine");
      return;
    }
    bool mayCarryBody = request.method == "POST" || (request.method == "DELETE" && !request.body.empty());
    if (mayCarryBody && !isJsonContentType(request.get_header_value("Content-Type"))) {
      answerError(response, 415, "admin requests with a body must send Content-Type: application/json");
      return;
    }
    admin.handle(request, target, response);
  }

  // Waits out an injected delay unless too many are held already; false then.
  bool holdInjectedDelay(std::chrono::milliseconds delay) {
    std::unique_lock lock(delayMutex);
    if (heldDelays >= kMaxHeldDelays) return false;
    ++heldDelays;
    wakeDelays.wait_for(lock, delay, [this] { return stopping.load(); });
    --heldDelays;
    return true;
  }

  void route(const httplib::Request& request, const RequestTarget& target, httplib::Response& response) {
    const std::string& host = target.host;
    if (PublisherSites::servesHost(host)) {
      sites.handle(request, target, response);
    } else if (isCollectorHost(host)) {
      collector.handle(request, target, response);
    } else if (isBackendHost(host)) {
      handleBackend(request, target, response);
    } else if (host == kPushGatewayHost) {
      pushEndpoints.handle(request, target, response);
    } else if (isOwnHost(host)) {
      if (target.path.rfind("/2/", 0) == 0 || target.path.rfind("/files/", 0) == 0) {
        handleBackend(request, target, response);
      } else {
        answerJson(response, serverIndex());
      }
    } else {
      answerError(response, 404, "unknown host \"" + host + "\"; GET /_admin/sites lists the hosts served here");
    }
  }

  // The backend reads the path from the request; a proxy-form request gets
  // the origin form it would have had without the proxy.
  void handleBackend(const httplib::Request& request, const RequestTarget& target, httplib::Response& response) {
    if (!target.absoluteForm) {
      backend.handle(request, response, signedUrlBase(request, target));
      return;
    }
    httplib::Request originForm = request;
    originForm.path = target.path;
    auto authorityEnd = request.target.find('/', request.target.find("://") + 3);
    originForm.target = authorityEnd == std::string::npos ? "/" : request.target.substr(authorityEnd);
    backend.handle(originForm, response, signedUrlBase(request, target));
  }

  bool isOwnHost(const std::string& host) const { return isLoopbackHost(host) || host == options.host; }

  // The scheme and authority the client signed: a routed backend host was
  // addressed as https even though it arrives here over plain HTTP.
  static std::string signedUrlBase(const httplib::Request& request, const RequestTarget& target) {
    std::string authority = target.host + (target.port.empty() ? "" : ":" + target.port);
    if (target.absoluteForm) return target.scheme + "://" + authority;
    if (isBackendHost(target.host)) {
      bool defaultPort = target.port.empty() || target.port == "443" || target.port == "80";
      return "https://" + target.host + (defaultPort ? "" : ":" + target.port);
    }
    return "http://" + authority;
  }

  static nlohmann::json serverIndex() {
    return {{"server", "devserver"},
            {"sites", "send requests with a Host header of a site, or use this server as an HTTP proxy"},
            {"backend", "/2/<operation> on this address, or Host api.backend.test / files.backend.test"},
            {"analytics", "Host ssl.analytics.test or www.analytics.test, path /collect"},
            {"push", std::string("Host ") + kPushGatewayHost + ": POST /devices, GET /devices/<token>/events"},
            {"admin", "/_admin/ on this address, from this machine"}};
  }

  void logLine(const httplib::Request& request, const std::string& host, int status) {
    if (options.quiet) return;
    std::fprintf(stderr, "%s %s %s -> %d\n", request.method.c_str(), host.c_str(),
                 request.target.substr(0, 300).c_str(), status == -1 ? 200 : status);
  }

  Options options;
  std::filesystem::path dataDir;
  bool ownsDataDir;
  std::atomic<bool> stopping{false};
  std::atomic<bool> listenerDone{false};
  PushGateway gateway;
  PushProvider provider;
  Collector collector;
  RequestLog requestLog;
  FaultInjector faults;
  PublisherSites sites;
  BackendBridge backend;
  PushEndpoints pushEndpoints;
  AdminEndpoints admin;
  httplib::Server http;
  std::thread listener;
  std::mutex stopMutex;
  std::mutex delayMutex;
  std::condition_variable wakeDelays;
  int heldDelays = 0;
  int boundPort = 0;
  socket_t listeningSocket = INVALID_SOCKET;
  bool started = false;
};

Server::Server(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Server::~Server() = default;

void Server::start() { impl_->start(); }

void Server::stop() { impl_->stop(); }

int Server::port() const { return impl_->boundPort; }

std::string Server::baseUrl() const {
  const std::string& host = impl_->options.host;
  bool ipv6 = host.find(':') != std::string::npos;
  return "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(impl_->boundPort);
}

std::filesystem::path Server::dataDirectory() const { return impl_->dataDir; }

PushGateway& Server::pushGateway() { return impl_->gateway; }

}  // namespace devserver
