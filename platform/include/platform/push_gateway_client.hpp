#pragma once
// The desktop's stand-in for the phone platform's push service: registers
// the device with a push gateway for a device token, then keeps one event
// stream open and hands every payload that arrives to the application.
//
// Gateway protocol (HTTP, through ServiceRouting so ".test" hosts reach the
// local services):
//   POST <gateway>/devices               -> {"token": "<hex digits>"}
//   GET  <gateway>/devices/<token>/events -> server-sent events: "ready" once
//        the stream is open, then one "push" event per payload (data: JSON).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.hpp"
#include "platform/value.hpp"

namespace platform {

// The error domain of registration failures; the user info's "error" says why.
inline constexpr const char* kPushGatewayErrorDomain = "PushGateway";

class PushGatewayClient {
 public:
  struct Options {
    std::string gatewayURL = "http://push.gateway.test";
    // Where the token is kept between runs, so payloads queued for this device
    // while it was away still reach it. Empty: "PushDeviceToken" in the
    // sandbox's Library directory.
    std::filesystem::path tokenFile;
    // Waits between failed attempts: doubling from the first to the largest.
    std::chrono::milliseconds firstRetryDelay{250};
    std::chrono::milliseconds maxRetryDelay{30000};
    // A stream silent this long (the gateway sends keep-alives) is taken as
    // dead and reopened.
    std::chrono::milliseconds idleTimeout{30000};
    // Larger payloads are dropped (and logged).
    std::size_t maxPayloadBytes = 64 * 1024;
  };

  // Each handler is called on the main queue, never after stop() returned.
  struct Handlers {
    // The device token (once per start(), as soon as it is known).
    std::function<void(const std::vector<std::uint8_t>& deviceToken)> didRegister;
    // The first failure of a run of failed registration attempts; attempts go on.
    std::function<void(const Error& error)> didFailToRegister;
    // One payload: always a dictionary (other payloads are dropped and logged).
    std::function<void(const Value& userInfo)> didReceive;
  };

  PushGatewayClient(Handlers handlers, Options options);
  explicit PushGatewayClient(Handlers handlers) : PushGatewayClient(std::move(handlers), Options{}) {}
  // Stops.
  ~PushGatewayClient();
  PushGatewayClient(const PushGatewayClient&) = delete;
  PushGatewayClient& operator=(const PushGatewayClient&) = delete;

  // Starts the listener thread: registration (or the token kept from an
  // earlier run), then the event stream, reopened with back-off whenever it
  // fails or ends. No effect while running or once stopped.
  void start();
  // Ends the stream and joins the thread; queued handler calls are dropped.
  // Idempotent; any thread (also from inside a handler).
  void stop();

  // The device token in lower-case hex, once known. Thread-safe.
  std::optional<std::string> deviceToken() const;
  // True while an event stream is open (its "ready" event arrived). Thread-safe.
  bool isConnected() const;
  // Payloads received but dropped as malformed or oversized. Thread-safe.
  std::size_t droppedPayloads() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace platform
