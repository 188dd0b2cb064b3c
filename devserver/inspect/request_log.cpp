#include "inspect/request_log.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace devserver {

std::uint64_t RequestLog::add(LoggedRequest entry) {
  if (entry.body.size() > kMaxBody) {
    entry.body.resize(kMaxBody);
    entry.bodyTruncated = true;
  }
  std::lock_guard lock(mutex_);
  entry.sequence = nextSequence_++;
  entries_.push_back(std::move(entry));
  if (entries_.size() > kMaxEntries) entries_.pop_front();
  return entries_.back().sequence;
}

void RequestLog::setStatus(std::uint64_t sequence, int status) {
  std::lock_guard lock(mutex_);
  if (entries_.empty() || sequence < entries_.front().sequence) return;
  std::size_t index = sequence - entries_.front().sequence;
  if (index < entries_.size()) entries_[index].status = status;
}

std::vector<LoggedRequest> RequestLog::entries(const std::string& host, std::size_t limit) const {
  std::lock_guard lock(mutex_);
  std::vector<LoggedRequest> selected;
  for (auto entry = entries_.rbegin(); entry != entries_.rend() && selected.size() < limit; ++entry) {
    if (host.empty() || entry->host == host) selected.push_back(*entry);
  }
  return {selected.rbegin(), selected.rend()};
}

void RequestLog::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

std::string RequestLog::now() {
  using namespace std::chrono;
  auto stamp = system_clock::now();
  std::time_t seconds = system_clock::to_time_t(stamp);
  auto millis = duration_cast<milliseconds>(stamp.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
  return text;
}

}  // namespace devserver
