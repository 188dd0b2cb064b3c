#include "platform/push_gateway_client.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "callback_gate.hpp"
#include "event_stream.hpp"
#include "platform/curl_setup.hpp"
#include "platform/executor.hpp"
#include "platform/json.hpp"
#include "platform/log.hpp"
#include "platform/sandbox.hpp"
#include "platform/service_routing.hpp"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxRegistrationAnswerBytes = 16 * 1024;
constexpr std::size_t kMaxTokenLength = 200;
constexpr long kConnectTimeoutMs = 10000;
constexpr long kRegistrationTimeoutMs = 15000;

// Lower-case form of a token made of an even number of hex digits.
std::optional<std::string> validToken(std::string_view text) {
  if (text.empty() || text.size() > kMaxTokenLength || text.size() % 2 != 0) return std::nullopt;
  std::string token;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    token.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return token;
}

std::vector<std::uint8_t> tokenBytes(const std::string& token) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < token.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(token.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

Error gatewayError(const std::string& message) { return makeError(kPushGatewayErrorDomain, 1, message); }

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, CurlDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

// One HTTP exchange's bytes go to `sink`, which answers false to abort.
struct Exchange {
  std::function<bool(std::string_view)> sink;
  Clock::time_point lastByte = Clock::now();
};

size_t receive(char* data, size_t size, size_t count, void* target) {
  auto* exchange = static_cast<Exchange*>(target);
  exchange->lastByte = Clock::now();
  return exchange->sink(std::string_view(data, size * count)) ? size * count : 0;
}

// A request for `url`, sent to the routed server when the host is routed.
EasyHandle makeRequest(const std::string& url, std::vector<std::string> headers, Exchange& exchange,
                       HeaderList& headerList) {
  EasyHandle easy(curl_easy_init());
  if (!easy) return easy;
  std::string target = url;
  if (auto routed = ServiceRouting::shared().route(url)) {
    target = routed->url;
    headers.push_back("Host: " + routed->hostHeader);
  }
  curl_slist* list = nullptr;
  for (const std::string& header : headers) list = curl_slist_append(list, header.c_str());
  headerList.reset(list);
  curl_easy_setopt(easy.get(), CURLOPT_URL, target.c_str());
  curl_easy_setopt(easy.get(), CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy.get(), CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headerList.get());
  curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, receive);
  curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &exchange);
  return easy;
}

long responseCode(CURL* easy) {
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

}  // namespace

struct PushGatewayClient::State : std::enable_shared_from_this<State> {
  State(Handlers handlers, Options options) : handlers(std::move(handlers)), options(std::move(options)) {
    if (ensureCurlSetUp()) multi = curl_multi_init();
  }
  ~State() {
    if (multi) curl_multi_cleanup(multi);
  }

  enum class End { Done, Stopped, Idle };

  struct StreamOutcome {
    bool opened = false;        // the "ready" event arrived
    bool tokenRefused = false;  // the gateway does not take this token
    std::string why;            // for the log
  };

  void run(std::optional<std::string> token, std::filesystem::path tokenFile);
  Result<std::string> registerDevice();
  StreamOutcome listen(const std::string& token);
  End perform(CURL* easy, Exchange& exchange, std::chrono::milliseconds idleTimeout, CURLcode& result);
  void handleEvent(detail::StreamEvent&& event, StreamOutcome& outcome);
  void dropPayload(const std::string& why);
  // Sleeps for `delay` unless stop() comes first.
  void pause(std::chrono::milliseconds delay);
  // Calls a handler on the main queue unless stop() came first.
  void post(std::function<void(Handlers&)> call);

  Handlers handlers;
  Options options;
  detail::CallbackGate gate;
  CURLM* multi = nullptr;
  std::atomic<bool> stopping{false};

  mutable std::mutex mutex;
  std::condition_variable wake;
  std::thread thread;
  bool started = false;
  std::optional<std::string> token;
  bool connected = false;
  std::size_t dropped = 0;
};

void PushGatewayClient::State::post(std::function<void(Handlers&)> call) {
  mainQueue().post([self = shared_from_this(), call = std::move(call)] {
    detail::GatePass pass(self->gate);
    if (pass) call(self->handlers);
  });
}

void PushGatewayClient::State::pause(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex);
  wake.wait_for(lock, delay, [this] { return stopping.load(); });
}

PushGatewayClient::State::End PushGatewayClient::State::perform(CURL* easy, Exchange& exchange,
                                                                std::chrono::milliseconds idleTimeout,
                                                                CURLcode& result) {
  curl_multi_add_handle(multi, easy);
  End end = End::Done;
  exchange.lastByte = Clock::now();
  while (true) {
    int running = 0;
    curl_multi_perform(multi, &running);
    if (running == 0) break;
    if (stopping) {
      end = End::Stopped;
      break;
    }
    const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - exchange.lastByte);
    if (silent >= idleTimeout) {
      end = End::Idle;
      break;
    }
    const auto wait = std::min<std::chrono::milliseconds>(idleTimeout - silent, std::chrono::milliseconds(1000));
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()) + 1, nullptr);
  }
  result = CURLE_OK;
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy) result = message->data.result;
  }
  curl_multi_remove_handle(multi, easy);
  return end;
}

Result<std::string> PushGatewayClient::State::registerDevice() {
  std::string body;
  bool tooLarge = false;
  Exchange exchange{[&](std::string_view bytes) {
    if (body.size() + bytes.size() > kMaxRegistrationAnswerBytes) {
      tooLarge = true;
      return false;
    }
    body.append(bytes);
    return true;
  }};
  HeaderList headers;
  EasyHandle easy = makeRequest(options.gatewayURL + "/devices", {"Accept: application/json"}, exchange, headers);
  if (!easy || !multi) return gatewayError("cannot set up a request");
  curl_easy_setopt(easy.get(), CURLOPT_POST, 1L);
  curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE, 0L);
  curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDS, "");
  curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT_MS, kRegistrationTimeoutMs);

  CURLcode result = CURLE_OK;
  const End end = perform(easy.get(), exchange, std::chrono::milliseconds(kRegistrationTimeoutMs), result);
  if (end == End::Stopped) return gatewayError("stopped");
  if (tooLarge) return gatewayError("the registration answer is too large");
  if (end == End::Idle || result != CURLE_OK) {
    return gatewayError(std::string("cannot reach the push gateway: ") + curl_easy_strerror(result));
  }
  const long status = responseCode(easy.get());
  if (status != 200 && status != 201) return gatewayError("the push gateway answered HTTP " + std::to_string(status));
  Result<Value> answer = json::parse(body);
  if (!answer) return gatewayError("the registration answer is not JSON: " + answer.error().message());
  const Value tokenValue = answer.value()["token"];
  const std::optional<std::string> token = tokenValue.isString() ? validToken(tokenValue.asString()) : std::nullopt;
  if (!token) return gatewayError("the registration answer holds no device token");
  return *token;
}

void PushGatewayClient::State::dropPayload(const std::string& why) {
  {
    std::lock_guard lock(mutex);
    ++dropped;
  }
  log("Push gateway: payload dropped: " + why);
}

void PushGatewayClient::State::handleEvent(detail::StreamEvent&& event, StreamOutcome& outcome) {
  if (event.type == "ready") {
    outcome.opened = true;
    std::lock_guard lock(mutex);
    connected = true;
  } else if (event.type == "push") {
    Result<Value> payload = detail::parsePushPayload(event.data);
    if (!payload) {
      dropPayload(payload.error().message());
      return;
    }
    post([userInfo = std::move(payload).value()](Handlers& handlers) {
      if (handlers.didReceive) handlers.didReceive(userInfo);
    });
  }
}

PushGatewayClient::State::StreamOutcome PushGatewayClient::State::listen(const std::string& deviceToken) {
  StreamOutcome outcome;
  detail::EventStreamParser parser(options.maxPayloadBytes);
  std::size_t droppedSeen = 0;
  bool checked = false;
  CURL* current = nullptr;
  Exchange exchange{[&](std::string_view bytes) {
    if (!checked) {
      // Only an event stream is read; an error page is not parsed as events.
      checked = true;
      const long status = responseCode(current);
      const char* type = nullptr;
      curl_easy_getinfo(current, CURLINFO_CONTENT_TYPE, &type);
      if (status != 200) {
        outcome.tokenRefused = status == 400 || status == 404 || status == 410;
        outcome.why = "the push gateway answered HTTP " + std::to_string(status);
        return false;
      }
      if (!type || std::string_view(type).rfind("text/event-stream", 0) != 0) {
        outcome.why = "the push gateway did not answer with an event stream";
        return false;
      }
    }
    parser.feed(bytes, [&](detail::StreamEvent&& event) { handleEvent(std::move(event), outcome); });
    while (droppedSeen < parser.droppedEvents()) {
      ++droppedSeen;
      dropPayload("larger than " + std::to_string(options.maxPayloadBytes) + " bytes");
    }
    return true;
  }};
  HeaderList headers;
  EasyHandle easy = makeRequest(options.gatewayURL + "/devices/" + deviceToken + "/events",
                                {"Accept: text/event-stream", "Cache-Control: no-cache"}, exchange, headers);
  if (!easy || !multi) {
    outcome.why = "cannot set up a request";
    return outcome;
  }
  current = easy.get();
  CURLcode result = CURLE_OK;
  const End end = perform(easy.get(), exchange, options.idleTimeout, result);
  {
    std::lock_guard lock(mutex);
    connected = false;
  }
  if (!outcome.why.empty()) return outcome;
  if (end == End::Idle) {
    outcome.why = "the event stream went silent";
  } else if (result != CURLE_OK) {
    outcome.why = std::string("event stream failed: ") + curl_easy_strerror(result);
  } else if (!checked && responseCode(easy.get()) != 200) {
    const long status = responseCode(easy.get());
    outcome.tokenRefused = status == 400 || status == 404 || status == 410;
    outcome.why = "the push gateway answered HTTP " + std::to_string(status);
  } else {
    outcome.why = "the event stream ended";
  }
  return outcome;
}

void PushGatewayClient::State::run(std::optional<std::string> deviceToken, std::filesystem::path tokenFile) {
  auto delay = options.firstRetryDelay;
  const auto backOff = [&] {
    pause(delay);
    delay = std::min(delay * 2, options.maxRetryDelay);
  };
  bool delivered = false;
  bool failureReported = false;
  while (!stopping) {
    if (!deviceToken) {
      Result<std::string> registered = registerDevice();
      if (stopping) break;
      if (!registered) {
        log("Push gateway: registration failed: " + registered.error().message());
        if (!failureReported) {
          failureReported = true;
          post([error = registered.error()](Handlers& handlers) {
            if (handlers.didFailToRegister) handlers.didFailToRegister(error);
          });
        }
        backOff();
        continue;
      }
      deviceToken = registered.value();
      failureReported = false;
      std::error_code ignored;
      std::filesystem::create_directories(tokenFile.parent_path(), ignored);
      if (auto error = writeFileAtomically(tokenFile, *deviceToken + "\n", 0600)) {
        log("Push gateway: cannot keep the device token: " + error.message());
      }
    }
    if (!delivered) {
      delivered = true;
      {
        std::lock_guard lock(mutex);
        token = deviceToken;
      }
      post([bytes = tokenBytes(*deviceToken)](Handlers& handlers) {
        if (handlers.didRegister) handlers.didRegister(bytes);
      });
    }
    const StreamOutcome outcome = listen(*deviceToken);
    if (stopping) break;
    if (outcome.opened) delay = options.firstRetryDelay;
    log("Push gateway: " + outcome.why + "; reconnecting");
    if (outcome.tokenRefused) {
      // A new token from a fresh registration replaces the refused one.
      deviceToken.reset();
      delivered = false;
    }
    backOff();
  }
}

PushGatewayClient::PushGatewayClient(Handlers handlers, Options options)
    : state_(std::make_shared<State>(std::move(handlers), std::move(options))) {}

PushGatewayClient::~PushGatewayClient() { stop(); }

void PushGatewayClient::start() {
  std::lock_guard lock(state_->mutex);
  if (state_->started) return;
  state_->started = true;
  std::filesystem::path tokenFile =
      state_->options.tokenFile.empty() ? Sandbox::library() / "PushDeviceToken" : state_->options.tokenFile;
  std::optional<std::string> kept;
  if (auto text = readFile(tokenFile)) {
    while (!text->empty() && std::isspace(static_cast<unsigned char>(text->back()))) text->pop_back();
    kept = validToken(*text);
  }
  state_->thread = std::thread([state = state_.get(), kept, tokenFile] { state->run(kept, tokenFile); });
}

void PushGatewayClient::stop() {
  std::thread thread;
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    thread = std::move(state_->thread);
  }
  state_->wake.notify_all();
  if (state_->multi) curl_multi_wakeup(state_->multi);
  if (thread.joinable()) thread.join();
  state_->gate.close();
}

std::optional<std::string> PushGatewayClient::deviceToken() const {
  std::lock_guard lock(state_->mutex);
  return state_->token;
}

bool PushGatewayClient::isConnected() const {
  std::lock_guard lock(state_->mutex);
  return state_->connected;
}

std::size_t PushGatewayClient::droppedPayloads() const {
  std::lock_guard lock(state_->mutex);
  return state_->dropped;
}

}  // namespace platform
