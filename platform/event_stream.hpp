#pragma once
// Incremental reader of a server-sent event stream ("text/event-stream"),
// for streams whose bytes come from outside: every line and every event is
// capped, and anything over a cap is dropped whole rather than cut short.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/result.hpp"
#include "platform/value.hpp"

namespace platform::detail {

struct StreamEvent {
  std::string type = "message";  // the "event" field, "message" when absent
  std::string data;              // the "data" lines joined by "\n"
  std::string id;                // the last "id" field seen so far on the stream
};

class EventStreamParser {
 public:
  // `maxEventBytes` caps one event's data and each line.
  explicit EventStreamParser(std::size_t maxEventBytes = 64 * 1024) : maxEventBytes_(maxEventBytes) {}

  // Reads the next chunk (split anywhere, even inside a CR LF pair) and calls
  // `onEvent` for every event it completes, in order. Events without data are
  // not reported; an event over the cap is counted in droppedEvents() instead.
  void feed(std::string_view bytes, const std::function<void(StreamEvent&&)>& onEvent);

  std::size_t droppedEvents() const noexcept { return dropped_; }

 private:
  void endLine(const std::function<void(StreamEvent&&)>& onEvent);
  void field(std::string_view name, std::string_view value);
  void dispatch(const std::function<void(StreamEvent&&)>& onEvent);

  std::size_t maxEventBytes_;
  std::string line_;
  bool lineTooLong_ = false;
  bool afterCR_ = false;
  bool atStart_ = true;  // a byte-order mark may open the stream
  std::string type_;
  std::string data_;
  bool hasData_ = false;
  bool eventTooLarge_ = false;
  std::string lastId_;
  std::size_t dropped_ = 0;
};

// A push payload from an event's data: a JSON object. Anything else (bad
// JSON, bad UTF-8, another top-level kind, too deep) gives an Error whose
// message says why.
Result<Value> parsePushPayload(std::string_view data);

}  // namespace platform::detail
