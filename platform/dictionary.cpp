#include <algorithm>

#include "platform/value.hpp"

namespace platform {

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
  entries_.reserve(entries.size());
  // Through set(), so a repeated key keeps its last value and nil adds nothing.
  for (const Entry& e : entries) set(e.first, e.second);
}

const Value* Dictionary::find(std::string_view key) const noexcept {
  for (const Entry& e : entries_) {
    if (e.first == key) return &e.second;
  }
  return nullptr;
}

Value* Dictionary::find(std::string_view key) noexcept {
  return const_cast<Value*>(static_cast<const Dictionary*>(this)->find(key));
}

Value Dictionary::get(std::string_view key) const {
  const Value* v = find(key);
  return v ? *v : Value();
}

void Dictionary::set(std::string key, Value value) {
  if (value.isNil()) {
    remove(key);
    return;
  }
  if (Value* existing = find(key)) {
    *existing = std::move(value);
    return;
  }
  entries_.emplace_back(std::move(key), std::move(value));
}

bool Dictionary::remove(std::string_view key) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.first == key; });
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

std::vector<std::string> Dictionary::keys() const {
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const Entry& e : entries_) out.push_back(e.first);
  return out;
}

std::vector<std::string> Dictionary::sortedKeys() const {
  std::vector<std::string> out = keys();
  std::sort(out.begin(), out.end());
  return out;
}

bool Dictionary::operator==(const Dictionary& other) const {
  if (size() != other.size()) return false;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    // Same order is the common case; only then is the scan avoided.
    const Value* theirs =
        other.entries_[i].first == e.first ? &other.entries_[i].second : other.find(e.first);
    if (!theirs || !(*theirs == e.second)) return false;
  }
  return true;
}

}  // namespace platform
