#pragma once

#include <httplib.h>

#include <atomic>

#include "devserver/push_gateway.hpp"
#include "http/request_target.hpp"

namespace devserver {

// The host devices talk to for push.
inline constexpr const char* kPushGatewayHost = "push.gateway.test";

// The device side of the push gateway over HTTP:
//   POST /devices                 -> 201 {"token": "<64 hex digits>"}
//   GET  /devices/<token>         -> {"token", "pending", "connected"}
//   GET  /devices/<token>/events  -> server-sent events: first "event: ready"
//        with {"token": ...}, then one "event: push" per payload ("id" is the
//        delivery's sequence number, "data" the payload JSON), and ": keep-alive"
//        comments while idle. A payload leaves the token's queue only once it
//        was written to the stream. One stream per device: a new one ends
//        the earlier. 503 when the gateway holds its most streams.
class PushEndpoints {
 public:
  // `stopping` turns true when the server shuts down; held streams then end.
  PushEndpoints(PushGateway& gateway, const std::atomic<bool>& stopping) : gateway_(gateway), stopping_(stopping) {}

  void handle(const httplib::Request& request, const RequestTarget& target, httplib::Response& response);

 private:
  void openStream(const std::string& token, httplib::Response& response);
  struct StreamState;
  bool sendNext(StreamState& state, httplib::DataSink& sink);

  PushGateway& gateway_;
  const std::atomic<bool>& stopping_;
};

// The server-sent event for one payload; every line of the payload becomes
// a "data:" line, so a payload with line breaks arrives intact.
std::string pushEvent(std::uint64_t sequence, const std::string& payload);

}  // namespace devserver
