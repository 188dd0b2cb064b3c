#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace devserver {

// The stand-in for the phone platform's push service. Devices hold a
// hexadecimal token and wait for payloads on it; a payload sent to a token
// whose device is offline waits in that token's queue until the device asks.
// Thread-safe: every member may be called from any thread.
class PushGateway {
 public:
  // One payload handed to the gateway, as the admin pages show it.
  struct Delivery {
    std::uint64_t sequence = 0;  // 1, 2, ... in the order of deliver() calls
    std::string token;           // normalised (lower-case) token
    std::string payload;         // the JSON text as given
    // "queued" until a device takes it, then "taken"; "dropped" for a
    // malformed token or when the token's queue overflowed.
    std::string state;
  };

  // Most payloads one token keeps while its device is offline; older ones
  // are dropped first, as the platform's own service does.
  static constexpr std::size_t kMaxPendingPerToken = 100;

  PushGateway() = default;
  PushGateway(const PushGateway&) = delete;
  PushGateway& operator=(const PushGateway&) = delete;

  // Hands out a fresh device token of 64 lower-case hexadecimal digits and
  // remembers it as registered.
  std::string registerDevice();

  // Queues `payloadJson` for `deviceToken` and wakes a device waiting on it.
  // Tokens are case-insensitive hexadecimal; a token that was never handed out
  // here is accepted too (a device may bring its token from an earlier run).
  // A token that is empty or not hexadecimal is not queued and the call is
  // recorded as dropped in deliveries(); nothing is thrown.
  void deliver(const std::string& deviceToken, const std::string& payloadJson);

  // A payload waiting for its device.
  struct Pending {
    std::uint64_t sequence = 0;
    std::string payload;
  };

  // Waits up to `wait` for the oldest payload queued for `deviceToken` and
  // returns it without taking it off the queue: the caller hands it to the
  // device and then calls acknowledge(), so a payload whose write fails is
  // not lost. Returns nothing on timeout, for a malformed token, or once
  // close() was called. The token counts as registered and its device as
  // connected while it waits.
  std::optional<Pending> waitForPayload(const std::string& deviceToken, std::chrono::milliseconds wait);

  // Takes the payload `sequence` off the token's queue once its device got
  // it. Unknown tokens and sequences are ignored.
  void acknowledge(const std::string& deviceToken, std::uint64_t sequence);

  // Wakes every waiter; later waitForPayload() calls return nothing at once.
  void close();

  // Registered tokens, sorted.
  std::vector<std::string> tokens() const;
  // Every deliver() call so far, oldest first (at most the last 1000).
  std::vector<Delivery> deliveries() const;
  // Payloads waiting for `deviceToken`.
  std::size_t pendingCount(const std::string& deviceToken) const;
  // Number of waitForPayload() calls currently waiting on `deviceToken`.
  std::size_t waitingCount(const std::string& deviceToken) const;

  // Lower-case form of a hexadecimal token, or nothing when it is empty,
  // longer than 200 characters, or holds a non-hex character.
  static std::optional<std::string> normalizeToken(const std::string& token);

 private:
  struct Queue {
    std::deque<std::pair<std::uint64_t, std::string>> pending;  // sequence, payload
    std::size_t waiting = 0;
  };
  void markDelivery(std::uint64_t sequence, const char* state);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Queue> queues_;
  std::deque<Delivery> deliveries_;
  std::uint64_t nextSequence_ = 1;
  bool closed_ = false;
};

}  // namespace devserver
