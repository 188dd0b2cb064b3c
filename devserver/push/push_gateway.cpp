#include "devserver/push_gateway.hpp"

#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace devserver {
namespace {

constexpr std::size_t kMaxTokenLength = 200;

std::string randomHex(std::size_t bytes) {
  std::vector<unsigned char> raw(bytes);
  if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1) {
    throw std::runtime_error("no random bytes for a device token");
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : raw) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xf];
  }
  return text;
}

}  // namespace

std::optional<std::string> PushGateway::normalizeToken(const std::string& token) {
  if (token.empty() || token.size() > kMaxTokenLength) return std::nullopt;
  std::string lower;
  for (char c : token) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return lower;
}

std::optional<std::string> PushGateway::registerDevice() {
  std::string token = randomHex(32);
  std::lock_guard lock(mutex_);
  if (!queueFor(token)) return std::nullopt;
  return token;
}

void PushGateway::deliver(const std::string& deviceToken, const std::string& payloadJson) {
  std::lock_guard lock(mutex_);
  Delivery delivery{nextSequence_++, deviceToken.substr(0, kMaxTokenLength), payloadJson, "dropped"};
  auto token = normalizeToken(deviceToken);
  Queue* queue = token ? queueFor(*token) : nullptr;
  if (queue) {
    delivery.token = *token;
    delivery.state = "queued";
    queue->pending.push_back({delivery.sequence, payloadJson, false});
    ++pendingTotal_;
    pendingBytes_ += payloadJson.size();
    if (queue->pending.size() > kMaxPendingPerToken) {
      removePending(*queue, queue->pending.begin(), "dropped");
    }
    while (pendingTotal_ > kMaxPendingTotal || pendingBytes_ > kMaxPendingBytes) dropOldestPending();
  }
  recordDelivery(std::move(delivery));
  changed_.notify_all();
}

std::optional<std::uint64_t> PushGateway::openStream(const std::string& deviceToken) {
  auto token = normalizeToken(deviceToken);
  if (!token) return std::nullopt;
  std::lock_guard lock(mutex_);
  if (closed_) return std::nullopt;
  Queue* queue = queueFor(*token);
  if (!queue) return std::nullopt;
  if (queue->liveStream == 0) {
    if (openStreams_ >= maxStreams_) return std::nullopt;
    ++openStreams_;
  }
  queue->liveStream = nextStream_++;
  changed_.notify_all();  // the replaced stream stops waiting
  return queue->liveStream;
}

void PushGateway::closeStream(const std::string& deviceToken, std::uint64_t stream) {
  auto token = normalizeToken(deviceToken);
  if (!token) return;
  std::lock_guard lock(mutex_);
  auto found = queues_.find(*token);
  if (found == queues_.end() || found->second.liveStream != stream) return;
  found->second.liveStream = 0;
  --openStreams_;
}

bool PushGateway::isLiveStream(const std::string& deviceToken, std::uint64_t stream) const {
  auto token = normalizeToken(deviceToken);
  std::lock_guard lock(mutex_);
  auto found = token ? queues_.find(*token) : queues_.end();
  return !closed_ && found != queues_.end() && found->second.liveStream == stream;
}

std::size_t PushGateway::openStreams() const {
  std::lock_guard lock(mutex_);
  return openStreams_;
}

std::optional<PushGateway::Pending> PushGateway::waitForPayload(const std::string& deviceToken,
                                                               std::chrono::milliseconds wait) {
  auto token = normalizeToken(deviceToken);
  if (!token) return std::nullopt;
  std::unique_lock lock(mutex_);
  Queue* queue = queueFor(*token);
  if (!queue) return std::nullopt;
  auto firstFree = [queue] {
    return std::find_if(queue->pending.begin(), queue->pending.end(),
                        [](const Payload& payload) { return !payload.handedOut; });
  };
  std::uint64_t stream = queue->liveStream;
  ++queue->waiting;
  changed_.notify_all();  // lets observers see the device come online
  // Entries of queues_ stay put while someone waits on them (see makeRoomForToken).
  changed_.wait_for(lock, wait, [&] {
    return closed_ || queue->liveStream != stream || firstFree() != queue->pending.end();
  });
  --queue->waiting;
  auto entry = firstFree();
  if (closed_ || queue->liveStream != stream || entry == queue->pending.end()) return std::nullopt;
  entry->handedOut = true;
  return Pending{entry->sequence, entry->text};
}

void PushGateway::acknowledge(const std::string& deviceToken, std::uint64_t sequence) {
  auto token = normalizeToken(deviceToken);
  if (!token) return;
  std::lock_guard lock(mutex_);
  auto found = queues_.find(*token);
  if (found == queues_.end()) return;
  auto& pending = found->second.pending;
  auto entry = std::find_if(pending.begin(), pending.end(), [&](const Payload& item) { return item.sequence == sequence; });
  if (entry != pending.end()) removePending(found->second, entry, "taken");
}

void PushGateway::release(const std::string& deviceToken, std::uint64_t sequence) {
  auto token = normalizeToken(deviceToken);
  if (!token) return;
  std::lock_guard lock(mutex_);
  auto found = queues_.find(*token);
  if (found == queues_.end()) return;
  for (auto& payload : found->second.pending) {
    if (payload.sequence == sequence) payload.handedOut = false;
  }
  changed_.notify_all();
}

void PushGateway::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

std::vector<std::string> PushGateway::tokens() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> list;
  for (const auto& [token, queue] : queues_) list.push_back(token);
  return list;
}

std::vector<PushGateway::Delivery> PushGateway::deliveries() const {
  std::lock_guard lock(mutex_);
  return {deliveries_.begin(), deliveries_.end()};
}

std::size_t PushGateway::pendingCount(const std::string& deviceToken) const {
  auto token = normalizeToken(deviceToken);
  std::lock_guard lock(mutex_);
  auto found = token ? queues_.find(*token) : queues_.end();
  return found == queues_.end() ? 0 : found->second.pending.size();
}

std::size_t PushGateway::waitingCount(const std::string& deviceToken) const {
  auto token = normalizeToken(deviceToken);
  std::lock_guard lock(mutex_);
  auto found = token ? queues_.find(*token) : queues_.end();
  return found == queues_.end() ? 0 : found->second.waiting;
}

PushGateway::Queue* PushGateway::queueFor(const std::string& token) {
  auto found = queues_.find(token);
  if (found != queues_.end()) return &found->second;
  if (queues_.size() >= kMaxTokens && !makeRoomForToken()) return nullptr;
  return &queues_[token];
}

// Forgets one token that nothing depends on: no payload queued, no device
// waiting or streaming. A device that registered it may still use it later.
bool PushGateway::makeRoomForToken() {
  for (auto it = queues_.begin(); it != queues_.end(); ++it) {
    const Queue& queue = it->second;
    if (queue.pending.empty() && queue.waiting == 0 && queue.liveStream == 0) {
      queues_.erase(it);
      return true;
    }
  }
  return false;
}

void PushGateway::dropOldestPending() {
  Queue* oldest = nullptr;
  for (auto& [token, queue] : queues_) {
    if (!queue.pending.empty() && (!oldest || queue.pending.front().sequence < oldest->pending.front().sequence)) {
      oldest = &queue;
    }
  }
  if (oldest) removePending(*oldest, oldest->pending.begin(), "dropped");
}

void PushGateway::removePending(Queue& queue, std::deque<Payload>::iterator entry, const char* state) {
  markDelivery(entry->sequence, state);
  --pendingTotal_;
  pendingBytes_ -= entry->text.size();
  queue.pending.erase(entry);
}

void PushGateway::recordDelivery(Delivery delivery) {
  historyBytes_ += delivery.payload.size();
  deliveries_.push_back(std::move(delivery));
  while (deliveries_.size() > kMaxHistory || (historyBytes_ > kMaxHistoryBytes && deliveries_.size() > 1)) {
    historyBytes_ -= deliveries_.front().payload.size();
    deliveries_.pop_front();
  }
}

void PushGateway::markDelivery(std::uint64_t sequence, const char* state) {
  // History is ordered by sequence, so the entry (if not yet evicted) is found by offset.
  if (deliveries_.empty() || sequence < deliveries_.front().sequence) return;
  std::size_t index = sequence - deliveries_.front().sequence;
  if (index < deliveries_.size()) deliveries_[index].state = state;
}

}  // namespace devserver
