#include "event_stream.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform::detail {
namespace {

std::vector<StreamEvent> readAll(EventStreamParser& parser, const std::vector<std::string>& chunks) {
  std::vector<StreamEvent> events;
  for (const std::string& chunk : chunks) {
    parser.feed(chunk, [&](StreamEvent&& event) { events.push_back(std::move(event)); });
  }
  return events;
}

std::vector<StreamEvent> readAll(const std::string& stream) {
  EventStreamParser parser;
  return readAll(parser, {stream});
}

TEST(EventStream, ReadsTypedEventsWithIdsAndSkipsCommentsAndEmptyEvents) {
  const auto events = readAll(
      "event: ready\ndata: {\"token\":\"ab\"}\n\n"
      ": keep-alive\n\n"
      "id: 7\nevent: push\ndata: {\"aps\":{}}\n\n"
      "event: push\n\n"  // no data: nothing to report
      "data:plain\n\n");
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].type, "ready");
  EXPECT_EQ(events[0].data, "{\"token\":\"ab\"}");
  EXPECT_EQ(events[1].type, "push");
  EXPECT_EQ(events[1].id, "7");
  EXPECT_EQ(events[1].data, "{\"aps\":{}}");
  // The type does not carry over; the id does, and no space follows the colon.
  EXPECT_EQ(events[2].type, "message");
  EXPECT_EQ(events[2].id, "7");
  EXPECT_EQ(events[2].data, "plain");
}

TEST(EventStream, JoinsDataLinesAndAcceptsEveryLineEndingEvenSplitAcrossChunks) {
  const std::string stream = "\xEF\xBB\xBF" "data: {\r\ndata:  \"a\": 1\rdata: }\r\n\r\nevent: x\ndata\n\n";
  // Every split point, including between the CR and LF of a pair.
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    EventStreamParser parser;
    const auto events = readAll(parser, {stream.substr(0, cut), stream.substr(cut)});
    ASSERT_EQ(events.size(), 2u) << "cut at " << cut;
    EXPECT_EQ(events[0].data, "{\n \"a\": 1\n}") << "cut at " << cut;
    EXPECT_EQ(events[1].type, "x");
    EXPECT_EQ(events[1].data, "");  // a bare "data" field is an empty line of data
  }
}

TEST(EventStream, DropsOversizedEventsWholeAndCarriesOn) {
  EventStreamParser parser(16);
  const auto events = readAll(parser, {"data: 0123456789\ndata: 0123456789\n\n",  // data over the cap
                                       "data: " + std::string(100, 'x') + "\n\n",   // one line over the cap
                                       "data: ok\n\n"});
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].data, "ok");
  EXPECT_EQ(parser.droppedEvents(), 2u);
}

TEST(EventStream, PayloadMustBeAJsonObject) {
  EXPECT_TRUE(parsePushPayload(R"({"aps": {"alert": "Ny sak"}, "url": "http://x.test/"})"));
  for (const char* bad : {"", "not json", "[1, 2]", "\"text\"", "{\"a\": ", "{\"a\": \"\xff\"}"}) {
    const auto payload = parsePushPayload(bad);
    ASSERT_FALSE(payload) << bad;
    EXPECT_FALSE(payload.error().message().empty()) << bad;
  }
}

}  // namespace
}  // namespace platform::detail
