#include <gtest/gtest.h>
#include <zlib.h>

#include "running_server.hpp"

namespace devserver {
namespace {

// windowBits 15 gives the zlib wrapper ("deflate"), 31 the gzip wrapper.
std::string compress(const std::string& text, int windowBits) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, text.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

const std::string kTwoHits =
    "v=1&tid=AN-318264-9&cid=c1&t=appview&cd=Frontpage&ht=1\n"
    "v=1&tid=AN-318264-9&cid=c1&t=appview&cd=Article&sc=end&ht=2";

class CollectorTest : public ::testing::Test {
 protected:
  nlohmann::json hits() { return running.admin("/_admin/hits")["hits"]; }

  test::RunningServer running;
};

TEST_F(CollectorTest, GetCarriesOneHitInTheQuery) {
  auto result = running.get("www.analytics.test", "/collect?v=1&tid=AN-318264-9&cid=x&t=appview&cd=A%20b");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->status, 200);
  auto list = hits();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]["method"], "GET");
  EXPECT_EQ(list[0]["host"], "www.analytics.test");
  EXPECT_EQ(list[0]["parameters"]["cd"], "A b");
  EXPECT_TRUE(list[0]["problems"].empty());
  // A hit too large to send leaves an empty query: answered, nothing recorded.
  EXPECT_EQ(running.get("ssl.analytics.test", "/collect?")->status, 200);
  EXPECT_EQ(hits().size(), 1u);
}

TEST_F(CollectorTest, PostBodiesPlainGzipAndDeflateAllYieldTheSameHits) {
  struct Case {
    const char* encoding;
    std::string body;
  };
  for (const Case& sent : {Case{"", kTwoHits}, Case{"gzip", compress(kTwoHits, 31)},
                           Case{"deflate", compress(kTwoHits, 15)}}) {
    httplib::Headers headers;
    if (*sent.encoding) headers.emplace("Content-Encoding", sent.encoding);
    auto result = running.post("ssl.analytics.test", "/collect", sent.body, headers,
                               "application/x-www-form-urlencoded; charset=UTF-8");
    ASSERT_TRUE(result) << sent.encoding;
    EXPECT_EQ(result->status, 200) << sent.encoding;
    EXPECT_EQ(nlohmann::json::parse(result->body)["received"], 2) << sent.encoding;
  }
  auto list = hits();
  ASSERT_EQ(list.size(), 6u);
  for (std::size_t i = 0; i < list.size(); i += 2) {
    EXPECT_EQ(list[i]["parameters"]["cd"], "Frontpage");
    EXPECT_EQ(list[i + 1]["parameters"]["sc"], "end");
    EXPECT_EQ(list[i + 1]["line"], "v=1&tid=AN-318264-9&cid=c1&t=appview&cd=Article&sc=end&ht=2");
  }
  EXPECT_EQ(list[2]["encoding"], "gzip");
  EXPECT_EQ(list[4]["encoding"], "deflate");
}

TEST_F(CollectorTest, UndecodableBodiesAreRefusedWithAReasonAndRecordNothing) {
  auto badGzip = running.post("ssl.analytics.test", "/collect", "not gzip at all", {{"Content-Encoding", "gzip"}});
  ASSERT_TRUE(badGzip);
  EXPECT_EQ(badGzip->status, 400);
  EXPECT_NE(badGzip->body.find("not valid gzip"), std::string::npos);

  std::string truncated = compress(kTwoHits, 31);
  truncated.resize(truncated.size() / 2);
  EXPECT_EQ(running.post("ssl.analytics.test", "/collect", truncated, {{"Content-Encoding", "gzip"}})->status, 400);

  auto unknown = running.post("ssl.analytics.test", "/collect", kTwoHits, {{"Content-Encoding", "compress"}});
  EXPECT_EQ(unknown->status, 415);
  EXPECT_NE(unknown->body.find("error"), std::string::npos);
  EXPECT_TRUE(hits().empty());
  // The server is still there.
  EXPECT_EQ(running.get("ssl.analytics.test", "/collect?v=1")->status, 200);
}

TEST_F(CollectorTest, OnlyCollectAcceptsHitsAndOnlyByGetOrPost) {
  EXPECT_EQ(running.get("ssl.analytics.test", "/other?v=1")->status, 404);
  auto put = running.client()->Put("/collect", {{"Host", "ssl.analytics.test"}}, "v=1", "text/plain");
  ASSERT_TRUE(put);
  EXPECT_EQ(put->status, 405);
  EXPECT_TRUE(hits().empty());
}

}  // namespace
}  // namespace devserver
