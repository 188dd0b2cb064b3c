#include "event_stream.hpp"

#include "platform/json.hpp"

namespace platform::detail {

namespace {
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
}

void EventStreamParser::feed(std::string_view bytes, const std::function<void(StreamEvent&&)>& onEvent) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (afterCR_) {
      afterCR_ = false;
      if (c == '\n') continue;  // the LF of a CR LF pair split across chunks
    }
    if (c == '\r' || c == '\n') {
      afterCR_ = c == '\r';
      endLine(onEvent);
      continue;
    }
    if (line_.size() < maxEventBytes_) {
      line_.push_back(c);
    } else {
      lineTooLong_ = true;
    }
  }
}

void EventStreamParser::endLine(const std::function<void(StreamEvent&&)>& onEvent) {
  std::string_view line = line_;
  if (atStart_) {
    atStart_ = false;
    if (line.substr(0, kByteOrderMark.size()) == kByteOrderMark) line.remove_prefix(kByteOrderMark.size());
  }
  if (lineTooLong_) {
    // A cut line could read as a different field; the whole event goes.
    eventTooLarge_ = true;
  } else if (line.empty()) {
    dispatch(onEvent);
  } else if (line.front() != ':') {  // ':' opens a comment (keep-alives)
    const std::size_t colon = line.find(':');
    std::string_view name = line.substr(0, colon);
    std::string_view value = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
    if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    field(name, value);
  }
  line_.clear();
  lineTooLong_ = false;
}

void EventStreamParser::field(std::string_view name, std::string_view value) {
  if (name == "event") {
    type_.assign(value);
  } else if (name == "data") {
    if (data_.size() + value.size() + 1 > maxEventBytes_) {
      eventTooLarge_ = true;
      return;
    }
    if (hasData_) data_.push_back('\n');
    data_.append(value);
    hasData_ = true;
  } else if (name == "id") {
    if (value.find('\0') == std::string_view::npos) lastId_.assign(value);
  }
}

void EventStreamParser::dispatch(const std::function<void(StreamEvent&&)>& onEvent) {
  const bool tooLarge = eventTooLarge_;
  const bool hasData = hasData_;
  StreamEvent event;
  if (!type_.empty()) event.type = std::move(type_);
  event.data = std::move(data_);
  event.id = lastId_;
  type_.clear();
  data_.clear();
  hasData_ = false;
  eventTooLarge_ = false;
  if (tooLarge) {
    ++dropped_;
  } else if (hasData) {
    onEvent(std::move(event));
  }
}

Result<Value> parsePushPayload(std::string_view data) {
  Result<Value> parsed = json::parse(data);
  if (!parsed) return parsed.error();
  if (!parsed.value().isDictionary()) {
    return makeError(json::kErrorDomain, json::kInvalidJSONCode, "a push payload must be a JSON object");
  }
  return parsed;
}

}  // namespace platform::detail
