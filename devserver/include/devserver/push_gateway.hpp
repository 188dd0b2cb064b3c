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
    // malformed token, when a queue overflowed or too many tokens are known.
    std::string state;
  };

  // Most payloads one token keeps while its device is offline; older ones
  // are dropped first, as the platform's own service does.
  static constexpr std::size_t kMaxPendingPerToken = 100;
  // Most payloads (and their bytes) all tokens keep together; beyond that the
  // oldest anywhere is dropped.
  static constexpr std::size_t kMaxPendingTotal = 10000;
  static constexpr std::size_t kMaxPendingBytes = 64 * 1024 * 1024;
  // Most tokens known at once; tokens with nothing queued and no device
  // connected are forgotten first.
  static constexpr std::size_t kMaxTokens = 10000;
  // The delivery history keeps at most this many entries and payload bytes.
  static constexpr std::size_t kMaxHistory = 1000;
  static constexpr std::size_t kMaxHistoryBytes = 4 * 1024 * 1024;

  // `maxStreams`: how many devices may hold a live stream at once.
  explicit PushGateway(std::size_t maxStreams = 64) : maxStreams_(maxStreams) {}
  PushGateway(const PushGateway&) = delete;
  PushGateway& operator=(const PushGateway&) = delete;

  // Hands out a fresh device token of 64 lower-case hexadecimal digits and
  // remembers it as registered. Nothing when kMaxTokens are in use.
  std::optional<std::string> registerDevice();

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

  // Opens the live stream of `deviceToken`'s device, replacing any earlier
  // one (which isLiveStream() then reports ended). Nothing for a malformed
  // token, when maxStreams are open, or once close() was called.
  std::optional<std::uint64_t> openStream(const std::string& deviceToken);
  // Ends a stream opened by openStream(); a replaced stream ends quietly.
  void closeStream(const std::string& deviceToken, std::uint64_t stream);
  // True while `stream` is the live stream of the token.
  bool isLiveStream(const std::string& deviceToken, std::uint64_t stream) const;
  // Streams open now.
  std::size_t openStreams() const;

  // Waits up to `wait` for the oldest payload queued for `deviceToken` that
  // no reader holds, and hands it to the caller: no other reader gets it
  // until the caller gives it back with release() (its write failed) or it
  // is gone with acknowledge() (the device got it). Returns nothing on
  // timeout, for a malformed token, or once close() was called. The device
  // counts as connected while it waits.
  std::optional<Pending> waitForPayload(const std::string& deviceToken, std::chrono::milliseconds wait);

  // Takes the payload `sequence` off the token's queue once its device got
  // it. Unknown tokens and sequences are ignored.
  void acknowledge(const std::string& deviceToken, std::uint64_t sequence);
  // Puts a payload handed out by waitForPayload() back for the next reader.
  void release(const std::string& deviceToken, std::uint64_t sequence);

  // Wakes every waiter; later waitForPayload() calls return nothing at once.
  void close();

  // Tokens known (registered, delivered to or listened on), sorted.
  std::vector<std::string> tokens() const;
  // Every deliver() call so far, oldest first (within the history bounds).
  std::vector<Delivery> deliveries() const;
  // Payloads waiting for `deviceToken`.
  std::size_t pendingCount(const std::string& deviceToken) const;
  // Number of waitForPayload() calls currently waiting on `deviceToken`.
  std::size_t waitingCount(const std::string& deviceToken) const;

  // Lower-case form of a hexadecimal token, or nothing when it is empty,
  // longer than 200 characters, or holds a non-hex character.
  static std::optional<std::string> normalizeToken(const std::string& token);

 private:
  struct Payload {
    std::uint64_t sequence = 0;
    std::string text;
    bool handedOut = false;
  };
  struct Queue {
    std::deque<Payload> pending;
    std::size_t waiting = 0;
    std::uint64_t liveStream = 0;  // 0: none
  };
  Queue* queueFor(const std::string& token);
  bool makeRoomForToken();
  void dropOldestPending();
  void removePending(Queue& queue, std::deque<Payload>::iterator entry, const char* state);
  void recordDelivery(Delivery delivery);
  void markDelivery(std::uint64_t sequence, const char* state);

  const std::size_t maxStreams_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Queue> queues_;
  std::size_t pendingTotal_ = 0;
  std::size_t pendingBytes_ = 0;
  std::deque<Delivery> deliveries_;
  std::size_t historyBytes_ = 0;
  std::uint64_t nextSequence_ = 1;
  std::uint64_t nextStream_ = 1;
  std::size_t openStreams_ = 0;
  bool closed_ = false;
};

}  // namespace devserver
