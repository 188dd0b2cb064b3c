#include "devserver/push_gateway.hpp"

#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace devserver {
namespace {

constexpr std::size_t kMaxHistory = 1000;
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

std::string PushGateway::registerDevice() {
  std::string token = randomHex(32);
  std::lock_guard lock(mutex_);
  queues_[token];
  return token;
}

void PushGateway::deliver(const std::string& deviceToken, const std::string& payloadJson) {
  std::lock_guard lock(mutex_);
  Delivery delivery{nextSequence_++, deviceToken, payloadJson, "dropped"};
  auto token = normalizeToken(deviceToken);
  if (token) {
    delivery.token = *token;
    delivery.state = "queued";
    Queue& queue = queues_[*token];
    queue.pending.emplace_back(delivery.sequence, payloadJson);
    if (queue.pending.size() > kMaxPendingPerToken) {
      markDelivery(queue.pending.front().first, "dropped");
      queue.pending.pop_front();
    }
  }
  deliveries_.push_back(std::move(delivery));
  if (deliveries_.size() > kMaxHistory) deliveries_.pop_front();
  changed_.notify_all();
}

std::optional<PushGateway::Pending> PushGateway::waitForPayload(const std::string& deviceToken,
                                                               std::chrono::milliseconds wait) {
  auto token = normalizeToken(deviceToken);
  if (!token) return std::nullopt;
  std::unique_lock lock(mutex_);
  Queue& queue = queues_[*token];
  ++queue.waiting;
  changed_.notify_all();  // lets observers see the device come online
  changed_.wait_for(lock, wait, [&] { return closed_ || !queue.pending.empty(); });
  --queue.waiting;
  if (closed_ || queue.pending.empty()) return std::nullopt;
  return Pending{queue.pending.front().first, queue.pending.front().second};
}

void PushGateway::acknowledge(const std::string& deviceToken, std::uint64_t sequence) {
  auto token = normalizeToken(deviceToken);
  if (!token) return;
  std::lock_guard lock(mutex_);
  auto found = queues_.find(*token);
  if (found == queues_.end()) return;
  auto& pending = found->second.pending;
  auto entry = std::find_if(pending.begin(), pending.end(), [&](const auto& item) { return item.first == sequence; });
  if (entry == pending.end()) return;
  pending.erase(entry);
  markDelivery(sequence, "taken");
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

void PushGateway::markDelivery(std::uint64_t sequence, const char* state) {
  // History is ordered by sequence, so the entry (if not yet evicted) is found by offset.
  if (deliveries_.empty() || sequence < deliveries_.front().sequence) return;
  std::size_t index = sequence - deliveries_.front().sequence;
  if (index < deliveries_.size()) deliveries_[index].state = state;
}

}  // namespace devserver
