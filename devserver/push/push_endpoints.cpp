#include "push/push_endpoints.hpp"

#include <chrono>
#include <memory>

#include "http/answers.hpp"

namespace devserver {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kWaitSlice = std::chrono::milliseconds(500);
constexpr auto kKeepAliveEvery = std::chrono::seconds(5);

bool writeText(httplib::DataSink& sink, const std::string& text) { return sink.write(text.data(), text.size()); }

}  // namespace

std::string pushEvent(std::uint64_t sequence, const std::string& payload) {
  std::string event = "id: " + std::to_string(sequence) + "\nevent: push\n";
  std::size_t start = 0;
  while (true) {
    std::size_t end = payload.find('\n', start);
    std::string line = payload.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    event += "data: " + line + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return event + "\n";
}

void PushEndpoints::handle(const httplib::Request& request, const RequestTarget& target,
                           httplib::Response& response) {
  const std::string& path = target.path;
  if (path == "/devices" || path == "/devices/") {
    if (request.method != "POST") {
      answerError(response, 405, "POST /devices asks for a device token");
      return;
    }
    auto token = gateway_.registerDevice();
    if (!token) {
      answerError(response, 503, "the push gateway knows too many devices; try again later");
      return;
    }
    answerJson(response, {{"token", *token}}, 201);
    return;
  }
  const std::string prefix = "/devices/";
  if (path.rfind(prefix, 0) != 0 || request.method != "GET") {
    answerError(response, 404, "the push gateway answers POST /devices, GET /devices/<token> and "
                               "GET /devices/<token>/events");
    return;
  }
  std::string rest = path.substr(prefix.size());
  const std::string eventsSuffix = "/events";
  bool events = rest.size() > eventsSuffix.size() &&
                rest.compare(rest.size() - eventsSuffix.size(), eventsSuffix.size(), eventsSuffix) == 0;
  if (events) rest.resize(rest.size() - eventsSuffix.size());
  auto token = PushGateway::normalizeToken(rest);
  if (!token) {
    answerError(response, 400, "not a device token: expected hexadecimal digits");
    return;
  }
  if (events) {
    openStream(*token, response);
    return;
  }
  answerJson(response, {{"token", *token},
                        {"pending", gateway_.pendingCount(*token)},
                        {"connected", gateway_.waitingCount(*token) > 0}});
}

// One open event stream; the gateway slot is given back when the answer
// (which owns the stream's provider) goes away, however the stream ended.
struct PushEndpoints::StreamState {
  StreamState(PushGateway& gateway, std::string token, std::uint64_t stream)
      : gateway(gateway), token(std::move(token)), stream(stream) {}
  ~StreamState() { gateway.closeStream(token, stream); }
  StreamState(const StreamState&) = delete;
  StreamState& operator=(const StreamState&) = delete;

  PushGateway& gateway;
  const std::string token;
  const std::uint64_t stream;
  bool greeted = false;
  Clock::time_point lastWrite = Clock::now();
};

void PushEndpoints::openStream(const std::string& token, httplib::Response& response) {
  auto stream = gateway_.openStream(token);
  if (!stream) {
    response.set_header("Retry-After", "5");
    answerError(response, 503, "too many push streams are open; try again later");
    return;
  }
  auto state = std::make_shared<StreamState>(gateway_, token, *stream);
  response.set_header("Cache-Control", "no-cache");
  response.set_chunked_content_provider("text/event-stream", [this, state](std::size_t, httplib::DataSink& sink) {
    return sendNext(*state, sink);
  });
}

bool PushEndpoints::sendNext(StreamState& state, httplib::DataSink& sink) {
  // A newer stream for the same device replaces this one.
  if (stopping_ || !gateway_.isLiveStream(state.token, state.stream)) {
    sink.done();
    return true;
  }
  if (!state.greeted) {
    state.greeted = true;
    state.lastWrite = Clock::now();
    return writeText(sink, "event: ready\ndata: {\"token\":\"" + state.token + "\"}\n\n");
  }
  if (!sink.is_writable()) return false;
  auto pending = gateway_.waitForPayload(state.token, kWaitSlice);
  if (!pending) {
    if (Clock::now() - state.lastWrite < kKeepAliveEvery) return true;
    state.lastWrite = Clock::now();
    return writeText(sink, ": keep-alive\n\n");
  }
  if (stopping_ || !writeText(sink, pushEvent(pending->sequence, pending->payload))) {
    gateway_.release(state.token, pending->sequence);  // the next stream of the device gets it
    if (stopping_) sink.done();
    return stopping_;
  }
  gateway_.acknowledge(state.token, pending->sequence);
  state.lastWrite = Clock::now();
  return true;
}

}  // namespace devserver
