#include "collector/hit_parser.hpp"

#include <gtest/gtest.h>

namespace devserver {
namespace {

using Parameters = std::vector<std::pair<std::string, std::string>>;

TEST(HitParser, DecodesEscapesAndPlusButKeepsBrokenEscapes) {
  EXPECT_EQ(percentDecode("a%20b+c%2Bd"), "a b c+d");
  EXPECT_EQ(percentDecode("%C3%B8"), "ø");
  EXPECT_EQ(percentDecode("100%"), "100%");
  EXPECT_EQ(percentDecode("%zz%4"), "%zz%4");
  EXPECT_EQ(percentDecode("%%41"), "%A");
}

TEST(HitParser, KeepsParameterOrderRepeatsAndValuelessNames) {
  CollectedHit hit = parseHitLine("v=1&tid=AN-318264-9&cid=abc&t=appview&cd=Front%20page&&flag&cd=again&=x&e=");
  EXPECT_EQ(hit.parameters, (Parameters{{"v", "1"},
                                        {"tid", "AN-318264-9"},
                                        {"cid", "abc"},
                                        {"t", "appview"},
                                        {"cd", "Front page"},
                                        {"flag", ""},
                                        {"cd", "again"},
                                        {"", "x"},
                                        {"e", ""}}));
  EXPECT_TRUE(hit.problems.empty());
  // A value may itself hold '='.
  EXPECT_EQ(parseHitLine("z=a=b").parameters, (Parameters{{"z", "a=b"}}));
}

TEST(HitParser, NamesWhatAHitLacks) {
  CollectedHit hit = parseHitLine("t=event&uid=7");
  EXPECT_EQ(hit.problems, (std::vector<std::string>{"missing v (protocol version)", "missing tid (tracking id)"}));
  EXPECT_EQ(parseHitLine("v=1&tid=x&t=appview&cid=").problems,
            (std::vector<std::string>{"missing cid (client id)"}));
}

TEST(HitParser, PayloadHasOneHitPerLineSkippingEmptyOnes) {
  auto hits = parseCollectPayload("v=1&t=a\r\n\nv=1&t=b\n\nv=1&t=c");
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0].line, "v=1&t=a");
  EXPECT_EQ(hits[1].parameters.back().second, "b");
  EXPECT_EQ(hits[2].parameters.back().second, "c");
  EXPECT_TRUE(parseCollectPayload("").empty());
  EXPECT_TRUE(parseCollectPayload("\n\r\n").empty());
}

}  // namespace
}  // namespace devserver
